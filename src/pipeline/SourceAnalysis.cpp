#include "pipeline/SourceAnalysis.h"

#include "analysis/FFProbe.h"

namespace kestrova::pipeline {

std::optional<SourceFileInfo> analyzeSource(const tools::ToolLocator &locator, const std::filesystem::path &source) {
  return analysis::FFProbe(locator).analyze(source);
}

} // namespace kestrova::pipeline
