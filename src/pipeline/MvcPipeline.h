#pragma once

#include "pipeline/PipelineRun.h"

namespace kestrova::pipeline {

/// The MVC pipeline: demux, view discovery, the variant decision, decode,
/// encode and, for the Vision Pro target, the MV-HEVC step.
/// `singleTrack` selects the single-track demux form.
ConversionResult runMvcPipeline(PipelineRun &run, bool singleTrack);

} // namespace kestrova::pipeline
