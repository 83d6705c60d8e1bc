#pragma once

#include "app/ConverterModel.h"

namespace kestrova::app {

/// The conversion runner that drives `engine`: fresh conversions through its
/// driver, kept SBS files through its side-by-side road inside the same run
/// scope as a fresh conversion (work folder, staged outputs, cancel check
/// before the commit, a full disk named as such).
ConversionRunner engineConversionRunner(std::shared_ptr<pipeline::PipelineEngine> engine);

} // namespace kestrova::app
