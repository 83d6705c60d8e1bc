#include "pipeline/SbsEncoder.h"
#include "pipeline/RequiredTool.h"

#include "core/Errors.h"
#include "core/NumberText.h"
#include "core/Utf8.h"
#include "pipeline/EncoderParameters.h"
#include "pipeline/EncoderTable.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/StreamDecodeRequest.h"
#include "tools/Process.h"

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

// The first `count` characters of UTF-8 `text`, never cutting a character in two.
std::string firstCharacters(const std::string &text, std::size_t count) {
  std::size_t end = 0;
  for (std::size_t seen = 0; end < text.size() && seen < count; ++seen) {
    ++end;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
      ++end;
  }
  return text.substr(0, end);
}

} // namespace

std::vector<std::string> sbsEncodeArguments(const SbsEncodeRequest &request) {
  const std::string size = std::to_string(request.width) + "x" + std::to_string(request.height);
  const std::string rate = std::to_string(request.frameRateNum) + "/" + std::to_string(request.frameRateDen);
  std::vector<std::string> arguments{"-y"};
  for (const auto *view : {&request.leftView, &request.rightView})
    arguments.insert(arguments.end(),
                     {"-f", "rawvideo", "-pix_fmt", "yuv420p", "-s", size, "-r", rate, "-i", view->string()});
  arguments.insert(arguments.end(), {"-i", request.audioSource.string(), "-filter_complex",
                                     "[0:v][1:v]hstack=inputs=2[sbs]", "-map", "[sbs]"});
  auto tracks = sourceTrackArguments(2, request.output);
  arguments.insert(arguments.end(), tracks.begin(), tracks.end());
  auto video = videoArguments(request.preset, request.codec, request.output);
  arguments.insert(arguments.end(), video.begin(), video.end());
  // The same sound as the streaming variants: a Vision Pro run needs AAC,
  // which is all the MV-HEVC converter keeps.
  auto audio = streamAudioArgumentList(request.target);
  arguments.insert(arguments.end(), audio.begin(), audio.end());
  arguments.emplace_back("-dn");
  auto end = soundEndArguments(request.output, request.pictureSeconds);
  arguments.insert(arguments.end(), end.begin(), end.end());
  arguments.push_back(request.output.string());
  return arguments;
}

void encodeSBS(PipelineEngine &engine, const SbsEncodeRequest &request, const ProgressReport &progress) {
  engine.verbose("Running ffmpeg to create Full SBS 3D (" +
                 std::string(request.codec == OutputCodec::h265 ? "H.265 (HEVC)" : "H.264") +
                 "), duration: " + shortestDecimalText(request.duration) + "s");
  const std::string ffmpeg = requireFfmpeg(engine);

  tools::ProcessLaunch launch;
  launch.executable = ffmpeg;
  launch.arguments = EncoderTable::probe(ffmpeg).translate(sbsEncodeArguments(request));
  auto process = engine.createCurrentProcess(std::move(launch));

  // The parser captures the log sink as it is now, so a later change of
  // onLog does not reach a running encode.
  FfmpegProgressParser parser(request.duration, progress, engine.onLog);
  std::string standardOutput;
  auto status = tools::runAndStreamLines(
      *process, [&standardOutput](std::string_view line) { standardOutput += escapedForLog(line) + "\n"; },
      [&parser](std::string_view line) { parser.onLine(line); });
  engine.verbose(standardOutput);

  if (!status.success()) {
    std::string errors = parser.kept().joined();
    if (errors.find("Encoder did not produce output") != std::string::npos)
      throw ConversionError::encodingFailed("ffmpeg failed to produce output");
    // A file cut short by a full disk has no index and does not play.
    if (errors.find("No space left on device") != std::string::npos)
      throw ConversionError::encodingFailed("ffmpeg: No space left on device");
    engine.verbose("WARNING: ffmpeg stderr: " + firstCharacters(errors, 500));
  }
  if (!fs::exists(request.output))
    throw ConversionError::encodingFailed("Output file not created");
}

} // namespace kestrova::pipeline
