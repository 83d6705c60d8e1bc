#include "pipeline/MvcPipeline.h"

#include "core/Errors.h"

namespace kestrova::pipeline {

// Placeholder until this pipeline is built: fails plainly instead of guessing.
ConversionResult runMvcPipeline(PipelineRun &, bool) {
  throw ConversionError::encodingFailed("this kind of source is not supported by this build yet");
}

} // namespace kestrova::pipeline
