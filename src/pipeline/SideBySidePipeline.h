#pragma once

#include "pipeline/PipelineRun.h"

namespace kestrova::pipeline {

/// Sources that are already side by side: copied for the SBS target, handed
/// to the MV-HEVC converter for the Vision Pro target.
ConversionResult runSideBySidePipeline(PipelineRun &run);

} // namespace kestrova::pipeline
