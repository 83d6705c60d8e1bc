#include "pipeline/SourceAnalysis.h"

#include "core/Errors.h"

namespace kestrova::pipeline {

SourceFileInfo analyzeSource(const tools::ToolLocator &, const std::filesystem::path &) {
  // Replaced by the ffprobe analysis as soon as it is available.
  throw AnalysisError("ffprobe not found");
}

} // namespace kestrova::pipeline
