#pragma once

#include "pipeline/PipelineRun.h"
#include "pipeline/RoadPlan.h"

namespace kestrova::pipeline {

/// The MVC roads: demux, view discovery, edge264-pipe's check of the views,
/// then the road `plan` holds, planned again with what the views told
/// (`tools` and `facts` are what it was planned from) and logged when that
/// changes it. A road of the fast decoder that fails further on is planned
/// once more without it. For the Vision Pro target the converter runs once,
/// and a run that leaves no MV-HEVC file fails naming it.
ConversionResult runMvcPipeline(PipelineRun &run, const ToolInventory &tools, const SourceFacts &facts,
                                const RoadPlan &plan);

} // namespace kestrova::pipeline
