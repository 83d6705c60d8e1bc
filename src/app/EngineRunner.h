#pragma once

#include "app/ConverterModel.h"

namespace kestrova::app {

/// The conversion runner that drives `engine`: fresh conversions through its
/// driver, kept SBS files through its side-by-side pipeline in a fresh work
/// directory inside the output directory.
ConversionRunner engineConversionRunner(std::shared_ptr<pipeline::PipelineEngine> engine);

} // namespace kestrova::app
