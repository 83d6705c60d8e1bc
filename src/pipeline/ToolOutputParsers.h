#pragma once

#include "core/ConversionStage.h"
#include "core/Log.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
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
  /// Feed one chunk as it arrives; lines cut by chunk boundaries count as two.
  void feed(std::string_view chunk);

private:
  std::int64_t estimated_;
  double start_, end_;
  ConversionStage stage_;
  ProgressReport progress_;
  LogFn log_;
  std::int64_t pictures_ = 0;
  std::int64_t lastLogged_ = 0;
};

/// Keeps the most recent lines of a tool's standard error (up to `capacity`).
class KeptLines {
public:
  explicit KeptLines(std::size_t capacity) : capacity_(capacity) {}
  void add(std::string line);
  std::vector<std::string> lines() const;

private:
  std::size_t capacity_;
  mutable std::mutex mutex_;
  std::deque<std::string> lines_;
};

/// ldecod's standard error: keeps the last 50 lines and logs warnings.
class LdecodMessageCollector {
public:
  explicit LdecodMessageCollector(LogFn log) : log_(std::move(log)) {}
  void feed(std::string_view chunk);
  std::vector<std::string> lines() const { return kept_.lines(); }

private:
  LogFn log_;
  KeptLines kept_{50};
};

/// ffmpeg's standard error while encoding: progress from "time=" over the
/// encode range 0.7-0.85 and a log line per 10 %; keeps the last 20 lines.
class FfmpegProgressParser {
public:
  FfmpegProgressParser(double duration, ProgressReport progress, LogFn log);
  void feed(std::string_view chunk);
  std::vector<std::string> lines() const { return kept_.lines(); }

private:
  double duration_;
  ProgressReport progress_;
  LogFn log_;
  KeptLines kept_{20};
  bool sawFirstLine_ = false;
  std::int64_t lastPercent_ = -1;
};

/// One poll of the frame-alternate script's ffmpeg.log: reports encoding
/// progress over 0.1-0.9 from its last "time=" value. Returns the seconds
/// read (0 when none).
double pollFfmpegLog(const std::filesystem::path &workDirectory, double duration, const ProgressReport &progress);

/// MVHEVCConverter's output: every line logged, "Frame N/M (P%)" lines
/// reported over `from`-`to` (0.85-0.98: the step after the side-by-side
/// encode).
class ConverterLineParser {
public:
  ConverterLineParser(ProgressReport progress, LogFn log, double from = 0.85, double to = 0.98)
      : progress_(std::move(progress)), log_(std::move(log)), from_(from), to_(to) {}
  void feed(std::string_view chunk);

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
  void feed(std::string_view chunk);

private:
  LogFn log_;
};

/// Splits `chunk` at any of `separators`, trims `trim` from both ends of each
/// piece and calls `onLine` for the non-empty ones. Invalid UTF-8 chunks are
/// ignored whole.
void forEachLine(std::string_view chunk, std::string_view separators, std::string_view trim,
                 const std::function<void(std::string_view)> &onLine);

} // namespace kestrova::pipeline
