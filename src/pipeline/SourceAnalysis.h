#pragma once

#include "core/Records.h"
#include "tools/ToolLocator.h"

#include <filesystem>
#include <optional>

namespace kestrova::pipeline {

/// Analyses `source` with a fresh ffprobe analysis that has no log callback
/// of its own; nothing when ffprobe's report is unreadable. Throws the
/// analysis' error.
std::optional<SourceFileInfo> analyzeSource(const tools::ToolLocator &locator, const std::filesystem::path &source);

} // namespace kestrova::pipeline
