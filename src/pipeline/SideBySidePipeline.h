#pragma once

#include "pipeline/PipelineRun.h"

namespace kestrova::pipeline {

/// Sources that pack both eyes into each picture (side by side or top and
/// bottom, full or half size, either eye first). For the SBS target a full
/// side-by-side source with the left eye first is copied; any other packing
/// is encoded once into a full side-by-side Matroska file. For the Vision Pro
/// target the MV-HEVC converter reads the source as it is packed: one encode.
ConversionResult runSideBySidePipeline(PipelineRun &run);

/// Whether runSideBySidePipeline copies the source as it is: a full
/// side-by-side source, left eye first, to the SBS target.
bool copiesSource(const PipelineRun &run);

} // namespace kestrova::pipeline
