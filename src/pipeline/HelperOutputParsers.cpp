#include "pipeline/HelperOutputParsers.h"

#include "pipeline/ToolBlame.h"

#include <algorithm>
#include <charconv>

namespace kestrova::pipeline {
namespace {

bool contains(std::string_view line, std::string_view part) {
  return line.find(part) != std::string_view::npos;
}

// The number right before `marker` in `line`.
std::optional<std::int64_t> countBefore(std::string_view line, std::string_view marker) {
  const std::size_t at = line.find(marker);
  if (at == std::string_view::npos)
    return std::nullopt;
  std::size_t begin = at;
  while (begin > 0 && line[begin - 1] >= '0' && line[begin - 1] <= '9')
    --begin;
  std::int64_t pairs = 0;
  if (begin == at || std::from_chars(line.data() + begin, line.data() + at, pairs).ec != std::errc())
    return std::nullopt;
  return pairs;
}

} // namespace

std::optional<std::int64_t> decodedFramePairs(std::string_view line) {
  return countBefore(line, " frame pairs decoded");
}

std::optional<std::int64_t> stackedFramePairs(std::string_view line) {
  return countBefore(line, " frame pairs stacked");
}

PipeToolLineParser::PipeToolLineParser(std::int64_t estimatedFrames, ProgressReport progress, LogFn log)
    : estimated_(std::max<std::int64_t>(estimatedFrames, 1)), progress_(std::move(progress)), log_(std::move(log)) {}

void PipeToolLineParser::onLine(std::string_view line) {
  line = trimmedLine(line);
  if (line.empty())
    return;
  kept_.add(line);
  if (auto pairs = decodedFramePairs(line)) {
    const double f = std::min(static_cast<double>(*pairs) / static_cast<double>(estimated_), 1.0);
    const double overall = kRangeStart + f * (kRangeEnd - kRangeStart);
    if (progress_)
      progress_(overall < kEncodingFrom ? ConversionStage::decoding : ConversionStage::encoding, overall);
    // The decoder may report every few pairs; one line per tenth is plenty.
    const auto tenth = static_cast<std::int64_t>(f * 10);
    if (tenth > lastTenth_) {
      lastTenth_ = tenth;
      logLine(log_, line);
    }
    return;
  }
  if (line.starts_with("ldecod-pipe:") || line.starts_with("edge264-pipe:") || line.starts_with("yuv_hstack:"))
    logLine(log_, line);
}

ParallelPhaseParser::ParallelPhaseParser(ConversionStage encodeStage, ProgressReport progress, LogFn log)
    : encodeStage_(encodeStage), progress_(std::move(progress)), log_(std::move(log)) {}

void ParallelPhaseParser::onLine(std::string_view line) {
  line = trimmedLine(line);
  if (line.empty())
    return;
  kept_.add(line);
  struct Test {
    bool matches;
    std::optional<std::pair<ConversionStage, double>> report;
  };
  const Test tests[] = {
      {contains(line, "Phase 1"), std::pair{ConversionStage::decoding, 0.5}},
      {contains(line, "Split into"), std::pair{ConversionStage::decoding, 0.55}},
      {contains(line, "worker_") && contains(line, "done"), std::nullopt},
      {contains(line, "Phase 2 time"), std::pair{encodeStage_, 0.8}},
      {contains(line, "Phase 3") || contains(line, "Concat"), std::pair{encodeStage_, 0.85}},
      {contains(line, "COMPLETE"), std::pair{encodeStage_, 0.9}},
      {contains(line, "Total time:") || contains(line, "Output:"), std::nullopt},
      {contains(line, "named pipes are in"), std::nullopt},
  };
  // Each test stands alone: a line that passes two is logged twice, as the
  // script's lines are meant to be read one test at a time.
  for (const auto &test : tests) {
    if (!test.matches)
      continue;
    logLine(log_, line);
    if (test.report && progress_)
      progress_(test.report->first, test.report->second);
  }
}

void ParallelErrorFilter::onLine(std::string_view line) {
  line = trimmedLine(line);
  if (contains(line, "ERROR") || contains(line, "FAILED") || line.starts_with("MVHEVCConverter:"))
    logLine(log_, "\u26a0\ufe0f " + withoutInternalCheck(std::string(line)));
}

} // namespace kestrova::pipeline
