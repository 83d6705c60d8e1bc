#pragma once

#include "core/ConversionStage.h"
#include "core/Log.h"
#include "tools/LineReader.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::pipeline {

/// Receives (stage, overall fraction) progress reports.
using ProgressReport = std::function<void(ConversionStage, double)>;

/// Seconds of an ffmpeg "time=" value ("HH:MM:SS.ff"), when it has that shape.
std::optional<double> parseTimeValue(std::string_view text);
/// The time value after the first "time=" in `line`, if any.
std::optional<double> timeValueInLine(std::string_view line);

/// The pictures an ffmpeg progress line ("frame=   61 fps=...") says were
/// encoded, or nothing for any other line.
std::optional<std::int64_t> encodedFramesInLine(std::string_view line);

/// Decoded pictures on ldecod's standard output turned into progress over a
/// range, with a log line every 100 pictures. The JM decoder prints one line
/// per decoded picture ("00012( P ) ..."); with both views decoded the
/// number is the frame's, printed once per view and not in increasing order
/// (B pictures come after the P picture they lean on), so the lines are
/// counted and the number is ignored. Its closing "N frames are decoded."
/// counts pictures of both views, as `estimatedFrames` does.
class LdecodFrameParser {
public:
  LdecodFrameParser(std::int64_t estimatedFrames, double rangeStart, double rangeEnd, ConversionStage stage,
                    ProgressReport progress, LogFn log);
  /// One line of its standard output.
  void onLine(std::string_view line);

private:
  std::int64_t estimated_;
  double start_, end_;
  ConversionStage stage_;
  ProgressReport progress_;
  LogFn log_;
  std::int64_t pictures_ = 0;
  std::int64_t lastLogged_ = 0;
};

/// ldecod's standard error: keeps the last 50 lines and logs warnings.
class LdecodMessageCollector {
public:
  explicit LdecodMessageCollector(LogFn log) : log_(std::move(log)) {}
  void onLine(std::string_view line);
  const tools::LastLines &kept() const { return kept_; }

private:
  LogFn log_;
  tools::LastLines kept_{50};
};

/// ffmpeg's standard error while encoding: progress from "time=" over the
/// encode range 0.7-0.85 and a log line per 10 %; keeps the last 20 lines.
class FfmpegProgressParser {
public:
  FfmpegProgressParser(double duration, ProgressReport progress, LogFn log);
  void onLine(std::string_view line);
  const tools::LastLines &kept() const { return kept_; }

private:
  double duration_;
  ProgressReport progress_;
  LogFn log_;
  tools::LastLines kept_{20};
  bool sawFirstLine_ = false;
  std::int64_t lastPercent_ = -1;
};

/// MVHEVCConverter's output: every line logged, "Frame N/M (P%)" lines
/// reported over `from`-`to` (0.85-0.98: the step after the side-by-side
/// encode).
class ConverterLineParser {
public:
  ConverterLineParser(ProgressReport progress, LogFn log, double from = 0.85, double to = 0.98)
      : progress_(std::move(progress)), log_(std::move(log)), from_(from), to_(to) {}
  void onLine(std::string_view line);

private:
  ProgressReport progress_;
  LogFn log_;
  double from_;
  double to_;
};

/// Logs ffmpeg status lines ("time=" and "speed=") as "ffmpeg: " + line.
class FfmpegEchoFilter {
public:
  explicit FfmpegEchoFilter(LogFn log) : log_(std::move(log)) {}
  void onLine(std::string_view line);

private:
  LogFn log_;
};

/// `line` without blanks at either end.
std::string_view trimmedLine(std::string_view line);

/// Sends `line` to `log` (when set) with bytes that are not UTF-8 escaped.
void logLine(const LogFn &log, std::string_view line);

} // namespace kestrova::pipeline
