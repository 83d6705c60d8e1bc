#include "pipeline/MvhevcConversion.h"

#include "analysis/VideoTracks.h"
#include "core/Errors.h"
#include "core/Utf8.h"
#include "pipeline/EncoderParameters.h"

#include <fmt/format.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

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
  tools::LastLines standardError(5);
  auto status =
      tools::runAndStreamLines(*process, {}, [&standardError](std::string_view line) { standardError.add(line); });
  if (!status.success()) {
    std::string tail = standardError.joined();
    if (tail.empty())
      tail = "unknown error";
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
                            const std::vector<std::string> &extraArguments) {
  engine.verbose("Converting SBS \u2192 MV-HEVC spatial video...");
  fs::path converterInput = hasExtension(sbsInput, "mkv") ? remuxToMov(engine, sbsInput) : sbsInput;

  auto converter = engine.findTool("MVHEVCConverter");
  if (!converter)
    throw ConversionError::toolNotFound("MVHEVCConverter not found: it is built with Kestrova into the tools folder "
                                        "(share/kestrova/tools); build the project again");
  tools::ProcessLaunch launch;
  launch.executable = *converter;
  launch.arguments = converterArguments(converterInput, output, preset);
  launch.arguments.insert(launch.arguments.end(), extraArguments.begin(), extraArguments.end());
  auto process = engine.createCurrentProcess(launch);
  engine.verbose("MVHEVCConverter path: " + *converter);
  engine.verbose("MVHEVCConverter: " + converterInput.filename().string() + " \u2192 " + output.filename().string());
  std::error_code ec;
  auto size = fs::file_size(converterInput, ec);
  engine.verbose(
      fmt::format("Input exists: {}, size: {} bytes", fs::exists(converterInput) ? "true" : "false", ec ? 0 : size));

  ConverterLineParser parser(progress, engine.onLog);
  std::string errors;
  std::vector<std::string> notes;
  auto status = tools::runAndStreamLines(
      *process, [&parser](std::string_view line) { parser.onLine(line); },
      [&errors, &notes](std::string_view line) {
        errors += escapedForLog(line) + "\n";
        // The converter's own notes (a sound track it had to drop) change
        // what the user gets, so they reach the normal log.
        if (line = trimmedLine(line); line.starts_with("MVHEVCConverter:"))
          notes.push_back("\u26a0\ufe0f " + escapedForLog(line));
      });
  if (!errors.empty())
    engine.verbose(errors);
  for (const auto &note : notes)
    engine.log(note);
  if (!status.success())
    throw ConversionError::encodingFailed("MVHEVCConverter exited with code " +
                                          std::to_string(status.terminationStatus));
  if (!fs::exists(output))
    throw ConversionError::encodingFailed("MVHEVCConverter did not produce output file");
  return output.string();
}

} // namespace kestrova::pipeline
