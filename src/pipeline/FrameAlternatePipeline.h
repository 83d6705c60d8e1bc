#pragma once

#include "pipeline/PipelineRun.h"

namespace kestrova::pipeline {

/// Frame-alternate sources: even and odd frames stacked side by side by a
/// generated ffmpeg script; `rightFirst` swaps the eyes.
ConversionResult runFrameAlternatePipeline(PipelineRun &run, bool rightFirst);

} // namespace kestrova::pipeline
