#pragma once

#include "core/ConversionStage.h"
#include "core/Log.h"
#include "pipeline/ToolOutputParsers.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::pipeline {

/// Standard error of the zero-disk pipe (ldecod-pipe or edge264-pipe, and
/// yuv_hstack). Every line is kept (the last 50) for the failure excerpt.
/// The "...: N frame pairs decoded" lines drive progress over 0.5-0.85
/// relative to `estimatedFrames` (per view): stage `decoding` below 0.7,
/// `encoding` from there on, since the encoder runs right behind the decoder.
/// Such a line is logged when it enters a new tenth of the estimate; other
/// "ldecod-pipe:", "edge264-pipe:" and "yuv_hstack:" lines are logged unchanged; the JM
/// decoder's own chatter ("max_dec_frame_buffering" and the like) is only kept.
class PipeToolLineParser {
public:
  static constexpr double kRangeStart = 0.5;
  static constexpr double kRangeEnd = 0.85;
  static constexpr double kEncodingFrom = 0.7;

  PipeToolLineParser(std::int64_t estimatedFrames, ProgressReport progress, LogFn log);
  void onLine(std::string_view line);
  const tools::LastLines &kept() const { return kept_; }

private:
  std::int64_t estimated_;
  ProgressReport progress_;
  LogFn log_;
  tools::LastLines kept_{50};
  std::int64_t lastTenth_ = -1;
};

/// The count N of a "... N frame pairs decoded" line, if it is one.
std::optional<std::int64_t> decodedFramePairs(std::string_view line);
/// The count N of yuv_hstack's closing "... N frame pairs stacked" line,
/// which it writes only when its input ended (not when its reader stopped).
std::optional<std::int64_t> stackedFramePairs(std::string_view line);

/// Standard output of parallel-pipeline.sh: keeps the last 200 lines and
/// turns its phase lines into log lines and progress (decoding 0.5 and 0.55,
/// then the encode stage at 0.8, 0.85 and 0.9).
class ParallelPhaseParser {
public:
  ParallelPhaseParser(ConversionStage encodeStage, ProgressReport progress, LogFn log);
  void onLine(std::string_view line);
  const tools::LastLines &kept() const { return kept_; }

private:
  ConversionStage encodeStage_;
  ProgressReport progress_;
  LogFn log_;
  tools::LastLines kept_{200};
};

/// Standard error of parallel-pipeline.sh: lines with "ERROR" or "FAILED"
/// and the MV-HEVC converter's notes ("MVHEVCConverter: ...") are logged
/// with a warning marker, the rest dropped.
class ParallelErrorFilter {
public:
  explicit ParallelErrorFilter(LogFn log) : log_(std::move(log)) {}
  void onLine(std::string_view line);

private:
  LogFn log_;
};

} // namespace kestrova::pipeline
