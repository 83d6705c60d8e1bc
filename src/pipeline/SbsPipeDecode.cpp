#include "pipeline/SbsPipeDecode.h"

#include "core/Errors.h"
#include "pipeline/EncoderParameters.h"
#include "pipeline/FinishedPictures.h"
#include "pipeline/HelperOutputParsers.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/ToolBlame.h"
#include "tools/Process.h"

#include <cmath>
#include <fmt/format.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

/// The failing stage of the pipe road in words.
[[noreturn]] void throwPipeFailure(const StreamDecodeRequest &request, const tools::StageOutcome &stage,
                                   std::int64_t pairs, const std::string &ffmpegText) {
  const int status = stage.shellStatus();
  if (stage.name == "ffmpeg")
    throw ConversionError::encodingFailed(
        toolFailureText("ffmpeg", "side-by-side encoder", status, reasonLine(ffmpegText)));
  if (stage.name == "yuv_hstack")
    throw ConversionError::encodingFailed(
        toolFailureText("yuv_hstack", "view stacker", status, reasonLine(stage.lastLines)));
  const double seconds = request.frameRateNum > 0
                             ? static_cast<double>(pairs) * static_cast<double>(request.frameRateDen) /
                                   static_cast<double>(request.frameRateNum)
                             : 0.0;
  const std::string role = fmt::format("decoder, after {} pictures: {:.2f} s", pairs, seconds);
  throw ConversionError::decodingFailed(toolFailureText(request.decoder, role, status, reasonLine(stage.lastLines)));
}

} // namespace

std::vector<std::string> streamedVideoArguments(QualityPreset preset, OutputCodec codec, const fs::path &output) {
  std::vector<std::string> video = videoArguments(preset, codec, output);
  video.insert(video.end(), {"-pix_fmt", "yuv420p"});
  std::erase(video, "+faststart");
  std::erase(video, "-movflags");
  return video;
}

SideBySideEncode rawPairsEncode(const std::string &yuvHstack, const std::string &ffmpeg, std::int64_t width,
                                std::int64_t height, std::int64_t frameRateNum, std::int64_t frameRateDen,
                                bool rightFirst) {
  SideBySideEncode encode;
  encode.stacker.executable = yuvHstack;
  encode.stacker.arguments = {std::to_string(width), std::to_string(height)};
  if (rightFirst)
    encode.stacker.arguments.emplace_back("swap");
  encode.encoder.executable = ffmpeg;
  encode.encoder.arguments = {"-y",
                              "-f",
                              "rawvideo",
                              "-pix_fmt",
                              "yuv420p",
                              "-s",
                              std::to_string(2 * width) + "x" + std::to_string(height),
                              "-r",
                              std::to_string(frameRateNum) + "/" + std::to_string(frameRateDen),
                              "-i",
                              "pipe:0"};
  return encode;
}

SideBySideEncode sideBySideEncode(const StreamDecodeRequest &request, const std::string &yuvHstack,
                                  const std::string &ffmpeg, const EncoderTable &encoders) {
  SideBySideEncode encode = rawPairsEncode(yuvHstack, ffmpeg, request.width, request.height, request.frameRateNum,
                                           request.frameRateDen, request.rightFirst);
  if (request.burnIn) {
    const auto burnIn = stackerBurnInArguments(request.burnIn, request.frameRateNum, request.frameRateDen);
    encode.stacker.arguments.insert(encode.stacker.arguments.end(), burnIn.begin(), burnIn.end());
  }
  const std::vector<std::string> video = streamedVideoArguments(request.preset, request.codec, request.output);
  encode.encoder.arguments.insert(encode.encoder.arguments.end(), {"-i", request.audioSource.string(), "-map", "0:v"});
  auto append = [&encode](const std::vector<std::string> &words) {
    encode.encoder.arguments.insert(encode.encoder.arguments.end(), words.begin(), words.end());
  };
  append(sourceTrackArguments(1, request.output));
  append(encoders.translate(video));
  append(encoders.translate(streamAudioArgumentList(request.target)));
  append(soundEndArguments(request.output, request.pictureSeconds));
  append({"-movflags", "+faststart", request.output.string()});
  return encode;
}

tools::ProcessLaunch streamDecoderLaunch(const std::string &decoder, const StreamDecodeRequest &request) {
  tools::ProcessLaunch launch;
  launch.executable = decoder;
  launch.arguments = {
      "-p", "InputFile=" + request.input.string(), "-p", "OutputFile=output.yuv", "-p", "DecodeAllLayers=1"};
  launch.workingDirectory = request.workDirectory;
  return launch;
}

tools::ProcessPipeline enginePipeline(PipelineEngine &engine) {
  return tools::ProcessPipeline(
      [&engine](tools::ProcessLaunch launch) { return engine.createCurrentProcess(std::move(launch)); });
}

std::int64_t estimatedFramesPerView(double seconds, std::int64_t frameRateNum, std::int64_t frameRateDen) {
  if (frameRateDen <= 0 || frameRateNum <= 0 || !(seconds > 0))
    return 1;
  // A nonsense duration must not overflow the count.
  const double frames =
      std::min(std::round(seconds * static_cast<double>(frameRateNum) / static_cast<double>(frameRateDen)), 9.0e18);
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(frames));
}

void decodeSBSPipe(PipelineEngine &engine, const StreamDecodeRequest &request, const ProgressReport &progress) {
  auto decoder = engine.findTool(request.decoder);
  auto yuvHstack = engine.findTool("yuv_hstack");
  auto ffmpeg = engine.findTool("ffmpeg");
  if (!decoder || !yuvHstack || !ffmpeg)
    throw ConversionError::toolNotFound(request.decoder + ", yuv_hstack, or ffmpeg not found");
  if (request.rightFirst)
    engine.verbose("block_rl detected \u2014 yuv_hstack will swap eyes");

  PipeToolLineParser toolLines(estimatedFramesPerView(request.duration, request.frameRateNum, request.frameRateDen),
                               progress, engine.onLog);
  std::int64_t pairs = 0;
  std::optional<std::int64_t> stacked, encoded;
  FfmpegEchoFilter ffmpegLines(engine.onLog);
  TextTail ffmpegText;
  SideBySideEncode encode = sideBySideEncode(request, *yuvHstack, *ffmpeg, EncoderTable::probe(*ffmpeg));
  tools::ProcessPipeline pipeline = enginePipeline(engine);
  const auto decoding =
      pipeline.add({request.decoder, streamDecoderLaunch(*decoder, request), {}, {}, [&](std::string_view line) {
                      pairs = decodedFramePairs(line).value_or(pairs);
                      toolLines.onLine(line);
                    }});
  const auto stacking =
      pipeline.add({"yuv_hstack", std::move(encode.stacker), decoding, {}, [&](std::string_view line) {
                      if (const auto pairsStacked = stackedFramePairs(line))
                        stacked = pairsStacked;
                      toolLines.onLine(line);
                    }});
  pipeline.add({"ffmpeg", std::move(encode.encoder), stacking, {}, [&](std::string_view line) {
                  ffmpegLines.onLine(line);
                  ffmpegText.feed(std::string(line) + "\n");
                  if (const auto frames = encodedFramesInLine(line))
                    encoded = frames;
                }});
  const tools::PipelineOutcome outcome = pipeline.run(engine.stopToken());
  if (outcome.cancelled)
    throw ConversionError::cancelled();
  if (const tools::StageOutcome *failed = outcome.blamed()) {
    engine.verbose("Pipe pipeline stderr:\n" + toolLines.kept().joined(10));
    throwPipeFailure(request, *failed, pairs, ffmpegText.text());
  }
  // Every tool may end well and the file still lack pictures: an encoder
  // that stops taking them ends the stacker and the decoder quietly.
  if (!stacked || (encoded && *encoded < *stacked))
    throw ConversionError::encodingFailed(
        fmt::format("ffmpeg (side-by-side encoder) stopped taking pictures after {} of them", encoded.value_or(0)));
  // The stacker's count is what its input, the decoder, gave before it ended.
  if (missesPictures(*stacked, request.pictures))
    throw ConversionError::decodingFailed(fmt::format("{} (decoder) ended after {} of the film's {} pictures without "
                                                      "an error",
                                                      request.decoder, *stacked, request.pictures));
  std::error_code sizeError;
  const auto size = fs::file_size(request.output, sizeError);
  engine.verbose("SBS output: " + request.output.filename().string() + " (" +
                 std::to_string(sizeError ? 0 : size / 1000000) + " MB)");
}

} // namespace kestrova::pipeline
