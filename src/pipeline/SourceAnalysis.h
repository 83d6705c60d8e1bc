#pragma once

#include "core/Records.h"
#include "tools/ToolLocator.h"

#include <filesystem>

namespace kestrova::pipeline {

/// Analyses `source` with a fresh ffprobe analysis that has no log callback
/// of its own. Throws the analysis' error.
SourceFileInfo analyzeSource(const tools::ToolLocator &locator, const std::filesystem::path &source);

} // namespace kestrova::pipeline
