#include "pipeline/ToolOutputParsers.h"

#include "core/NumberText.h"
#include "core/Utf8.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fmt/format.h>
#include <fstream>

namespace kestrova::pipeline {

namespace {

std::optional<double> parseDecimal(std::string_view text) {
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

} // namespace

std::string_view trimmedLine(std::string_view line) {
  constexpr std::string_view blanks = " \t\v\f";
  const auto first = line.find_first_not_of(blanks);
  if (first == std::string_view::npos)
    return {};
  return line.substr(first, line.find_last_not_of(blanks) - first + 1);
}

void logLine(const LogFn &log, std::string_view line) {
  if (log)
    log(escapedForLog(line));
}

std::optional<double> parseTimeValue(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t colon = text.find(':', start);
    std::string_view piece =
        text.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
    if (!piece.empty())
      pieces.push_back(piece);
    if (colon == std::string_view::npos)
      break;
    start = colon + 1;
  }
  if (pieces.size() != 3)
    return std::nullopt;
  auto hours = parseDecimal(pieces[0]), minutes = parseDecimal(pieces[1]), seconds = parseDecimal(pieces[2]);
  if (!hours || !minutes || !seconds)
    return std::nullopt;
  return *hours * 3600 + *minutes * 60 + *seconds;
}

std::optional<double> timeValueInLine(std::string_view line) {
  auto at = line.find("time=");
  if (at == std::string_view::npos)
    return std::nullopt;
  std::string_view rest = line.substr(at + 5);
  return parseTimeValue(rest.substr(0, rest.find(' ')));
}

std::optional<std::int64_t> encodedFramesInLine(std::string_view line) {
  line = trimmedLine(line);
  if (!line.starts_with("frame="))
    return std::nullopt;
  line.remove_prefix(6);
  line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
  std::int64_t frames = 0;
  const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), frames);
  if (error != std::errc() || end == line.data())
    return std::nullopt;
  return frames;
}

LdecodFrameParser::LdecodFrameParser(std::int64_t estimatedFrames, double rangeStart, double rangeEnd,
                                     ConversionStage stage, ProgressReport progress, LogFn log)
    : estimated_(estimatedFrames), start_(rangeStart), end_(rangeEnd), stage_(stage), progress_(std::move(progress)),
      log_(std::move(log)) {}

void LdecodFrameParser::onLine(std::string_view line) {
  line = trimmedLine(line);
  std::size_t digits = 0;
  while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9')
    ++digits;
  // A picture line is the number and its type in parentheses; the closing
  // "48 frames are decoded." also starts with digits.
  if (digits == 0 || digits == line.size() || line[digits] != '(') {
    if (line.find("frames are decoded") != std::string_view::npos ||
        line.find("Total decoding time") != std::string_view::npos)
      logLine(log_, line);
    return;
  }
  const std::int64_t frame = ++pictures_;
  if (estimated_ >= 1 && progress_)
    progress_(stage_,
              start_ + std::min(static_cast<double>(frame) / static_cast<double>(estimated_), 1.0) * (end_ - start_));
  if (frame - lastLogged_ >= 100) {
    lastLogged_ = frame;
    logLine(log_, estimated_ >= 1 ? fmt::format("ldecod: decoded frame {} / ~{}...", frame, estimated_)
                                  : fmt::format("ldecod: decoded frame {}...", frame));
  }
}

void LdecodMessageCollector::onLine(std::string_view line) {
  line = trimmedLine(line);
  if (line.empty())
    return;
  kept_.add(line);
  if (line.find("Warning") != std::string_view::npos)
    logLine(log_, line);
}

FfmpegProgressParser::FfmpegProgressParser(double duration, ProgressReport progress, LogFn log)
    : duration_(duration), progress_(std::move(progress)), log_(std::move(log)) {}

void FfmpegProgressParser::onLine(std::string_view line) {
  line = trimmedLine(line);
  if (line.empty())
    return;
  kept_.add(line);
  if (!sawFirstLine_) {
    sawFirstLine_ = true;
    logLine(log_, "ffmpeg stderr: " + std::string(line.substr(0, 200)));
    logLine(log_, "ffmpeg progress tracking: duration=" + shortestDecimalText(duration_) + "s");
  }
  if (duration_ <= 0)
    return;
  auto time = timeValueInLine(line);
  if (!time)
    return;
  double fraction = std::min(*time / duration_, 1.0);
  if (progress_)
    progress_(ConversionStage::encoding, 0.7 + 0.15 * fraction);
  auto percent = static_cast<std::int64_t>(std::floor(fraction * 10)) * 10;
  if (percent > lastPercent_) {
    lastPercent_ = percent;
    logLine(log_, fmt::format("ffmpeg: {}% \u2014 {}", percent, line));
  }
}

void ConverterLineParser::onLine(std::string_view line) {
  line = trimmedLine(line);
  if (line.empty())
    return;
  logLine(log_, line);
  if (!line.starts_with("Frame "))
    return;
  auto open = line.find('(');
  if (open == std::string_view::npos)
    return;
  auto close = line.find("%)", open + 1);
  if (close == std::string_view::npos)
    return;
  if (auto percent = parseDecimal(line.substr(open + 1, close - open - 1)); percent && progress_)
    progress_(ConversionStage::convertingMVHEVC, from_ + *percent / 100 * (to_ - from_));
}

void FfmpegEchoFilter::onLine(std::string_view line) {
  line = trimmedLine(line);
  if (line.find("time=") != std::string_view::npos && line.find("speed=") != std::string_view::npos)
    logLine(log_, "ffmpeg: " + std::string(line));
}

} // namespace kestrova::pipeline
