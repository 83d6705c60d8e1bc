#include "pipeline/MvhevcConversion.h"

#include "analysis/VideoTracks.h"
#include "core/Errors.h"
#include "core/Utf8.h"
#include "pipeline/EncoderParameters.h"

#include <fmt/format.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

// The last `count` pieces of `text` split at line breaks, joined with LF.
std::string lastLines(const std::string &text, std::size_t count) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find_first_of("\r\n", start);
    pieces.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos)
      break;
    bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
    start = end + (crlf ? 2 : 1);
  }
  std::size_t first = pieces.size() > count ? pieces.size() - count : 0;
  std::string joined;
  for (std::size_t i = first; i < pieces.size(); ++i)
    joined += (i == first ? "" : "\n") + pieces[i];
  return joined;
}

fs::path remuxToMov(PipelineEngine &engine, const fs::path &input) {
  engine.verbose("Remuxing MKV \u2192 MOV for AVFoundation compatibility...");
  std::string ffmpeg = engine.findTool("ffmpeg").value_or("/usr/local/bin/ffmpeg");
  engine.verbose("ffmpeg path: " + ffmpeg);
  engine.verbose(std::string("ffmpeg exists: ") + (fs::exists(ffmpeg) ? "true" : "false"));
  fs::path remuxed = input;
  remuxed.replace_extension("mov");
  tools::ProcessLaunch launch;
  launch.executable = ffmpeg;
  launch.arguments = {"-y", "-i", input.string(), "-c:v", "copy", "-c:a", "copy"};
  if (takesHvc1Tag(engine, input))
    launch.arguments.insert(launch.arguments.end(), {"-tag:v", "hvc1"});
  launch.arguments.insert(launch.arguments.end(), {"-movflags", "+faststart", remuxed.string()});
  auto process = engine.createCurrentProcess(launch);
  std::string standardError;
  auto status =
      tools::runAndStream(*process, {}, [&standardError](std::string_view chunk) { standardError.append(chunk); });
  if (!status.success()) {
    std::string errors = isValidUtf8(standardError) ? standardError : "unknown error";
    std::string tail = lastLines(errors, 5);
    engine.verbose("ffmpeg remux error: " + tail);
    throw ConversionError::encodingFailed("Failed to remux MKV \u2192 MOV: " + tail);
  }
  engine.verbose("Remux complete: " + remuxed.filename().string());
  return remuxed;
}

} // namespace

bool takesHvc1Tag(const PipelineEngine &engine, const fs::path &file) {
  try {
    auto tracks = analysis::detectVideoTracks(engine.locator(), file);
    return tracks.empty() || tracks.front().codec == "hevc";
  } catch (const std::exception &) {
    // Without a readable report the remux keeps its usual arguments; a file
    // ffprobe cannot read will fail the remux with ffmpeg's own message.
    return true;
  }
}

std::vector<std::string> converterArguments(const fs::path &input, const fs::path &output, QualityPreset preset) {
  std::vector<std::string> arguments{input.string(), output.string(), spatialQualityText(preset)};
  if (auto cap = spatialRateCapMbps(preset))
    arguments.push_back(std::to_string(*cap));
  return arguments;
}

std::string convertToMVHEVC(PipelineEngine &engine, const fs::path &sbsInput, const fs::path &output,
                            QualityPreset preset, const ProgressReport &progress,
                            const std::vector<std::string> &layoutArguments) {
  engine.verbose("Converting SBS \u2192 MV-HEVC spatial video...");
  fs::path converterInput = hasExtension(sbsInput, "mkv") ? remuxToMov(engine, sbsInput) : sbsInput;

  auto converter = engine.findTool("MVHEVCConverter");
  if (!converter)
    throw ConversionError::toolNotFound("MVHEVCConverter not found: it is built with Kestrova into the tools folder "
                                        "(share/kestrova/tools); build the project again");
  tools::ProcessLaunch launch;
  launch.executable = *converter;
  launch.arguments = converterArguments(converterInput, output, preset);
  launch.arguments.insert(launch.arguments.end(), layoutArguments.begin(), layoutArguments.end());
  auto process = engine.createCurrentProcess(launch);
  engine.verbose("MVHEVCConverter path: " + *converter);
  engine.verbose("MVHEVCConverter: " + converterInput.filename().string() + " \u2192 " + output.filename().string());
  std::error_code ec;
  auto size = fs::file_size(converterInput, ec);
  engine.verbose(
      fmt::format("Input exists: {}, size: {} bytes", fs::exists(converterInput) ? "true" : "false", ec ? 0 : size));

  ConverterLineParser parser(progress, engine.onLog);
  std::string errors;
  auto status = tools::runAndStream(
      *process, [&parser](std::string_view chunk) { parser.feed(chunk); },
      [&errors](std::string_view chunk) { errors.append(chunk); });
  if (!errors.empty() && isValidUtf8(errors)) {
    engine.verbose(errors);
    // The converter's own notes (a sound track it had to drop) change what
    // the user gets, so they reach the normal log.
    forEachLine(errors, "\n", " \t\r", [&engine](std::string_view line) {
      if (line.starts_with("MVHEVCConverter:"))
        engine.log("\u26a0\ufe0f " + std::string(line));
    });
  }
  if (!status.success())
    throw ConversionError::encodingFailed("MVHEVCConverter exited with code " +
                                          std::to_string(status.terminationStatus));
  if (!fs::exists(output))
    throw ConversionError::encodingFailed("MVHEVCConverter did not produce output file");
  return output.string();
}

} // namespace kestrova::pipeline
