#include "pipeline/DirectMvhevcPipe.h"

#include "core/Errors.h"
#include "core/Utf8.h"
#include "pipeline/EncoderParameters.h"
#include "pipeline/HelperOutputParsers.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/SbsPipeDecode.h"
#include "pipeline/ToolBlame.h"
#include "tools/Process.h"

#include <optional>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

/// Sends the converter's own lines ("MVHEVCConverter: ...") to the normal
/// log and keeps its error for a failure.
class ConverterErrors {
public:
  explicit ConverterErrors(PipelineEngine &engine) : engine_(engine) {}

  void onLine(std::string_view line) {
    if (line.starts_with("MVHEVCConverter:"))
      engine_.log("\u26a0\ufe0f " + escapedForLog(line));
    if (line.starts_with("MVHEVCConverter: error: "))
      error_ = escapedForLog(line.substr(24));
  }

  const std::string &error() const { return error_; }

private:
  PipelineEngine &engine_;
  std::string error_;
};

} // namespace

std::vector<std::string> pairInputArguments(const StreamDecodeRequest &request) {
  std::vector<std::string> arguments{"-", request.output.string(), spatialQualityText(request.preset)};
  if (auto cap = spatialRateCapMbps(request.preset))
    arguments.push_back(std::to_string(*cap));
  arguments.insert(
      arguments.end(),
      {"--view-size", std::to_string(request.width) + "x" + std::to_string(request.height), "--frame-rate",
       std::to_string(request.frameRateNum) + "/" + std::to_string(request.frameRateDen), "--eye-order",
       request.rightFirst ? "right-first" : "left-first", "--pairs",
       std::to_string(estimatedFramesPerView(request.duration, request.frameRateNum, request.frameRateDen))});
  if (request.converterTracks.empty())
    arguments.insert(arguments.end(), {"--sound", request.audioSource.string()});
  else
    arguments.insert(arguments.end(), request.converterTracks.begin(), request.converterTracks.end());
  if (request.burnIn) {
    const auto subtitles = burnInArguments(*request.burnIn);
    arguments.insert(arguments.end(), subtitles.begin(), subtitles.end());
  }
  return arguments;
}

void encodeDirectMvhevc(PipelineEngine &engine, const StreamDecodeRequest &request, const ProgressReport &progress) {
  auto decoder = engine.findTool(request.decoder);
  auto converter = engine.findTool("MVHEVCConverter");
  if (!decoder || !converter)
    throw ConversionError::toolNotFound(request.decoder + " or MVHEVCConverter not found");
  std::optional<SideBySideEncode> sideBySide;
  if (request.keptSideBySide.empty()) {
    engine.log("=== Decode \u2192 MV-HEVC in one encode (" + request.decoder + " \u2192 MVHEVCConverter) ===");
  } else {
    auto yuvHstack = engine.findTool("yuv_hstack");
    auto ffmpeg = engine.findTool("ffmpeg");
    if (!yuvHstack || !ffmpeg)
      throw ConversionError::toolNotFound("yuv_hstack or ffmpeg not found");
    StreamDecodeRequest sideBySideRequest = request;
    sideBySideRequest.output = request.keptSideBySide;
    sideBySide = sideBySideEncode(sideBySideRequest, *yuvHstack, *ffmpeg, EncoderTable::probe(*ffmpeg));
    engine.log("=== Decode once \u2192 MV-HEVC and side by side at once (" + request.decoder +
               " \u2192 MVHEVCConverter + ffmpeg) ===");
  }
  if (request.rightFirst)
    engine.verbose("block_rl detected \u2014 the converter takes view 1 as the left eye");

  // The decoder runs ahead of the encoder by a pipe's worth of pictures, so
  // the encoder's count is the honest one; the decoder's lines are only kept.
  PipeToolLineParser decoderLines(estimatedFramesPerView(request.duration, request.frameRateNum, request.frameRateDen),
                                  {}, engine.onLog);
  ConverterErrors converterErrors(engine);
  ConverterLineParser frames(progress, engine.onLog, 0.3, 0.98);
  TextTail ffmpegText;
  tools::ProcessLaunch converterLaunch{*converter, pairInputArguments(request), request.workDirectory, {}, {}};
  tools::ProcessPipeline pipeline = enginePipeline(engine);
  const auto decoding = pipeline.add(
      {request.decoder, streamDecoderLaunch(*decoder, request), {}, {}, [&decoderLines](std::string_view line) {
         decoderLines.onLine(line);
       }});
  pipeline.add({"MVHEVCConverter", std::move(converterLaunch), decoding,
                [&frames](std::string_view line) { frames.onLine(line); },
                [&converterErrors](std::string_view line) { converterErrors.onLine(line); }});
  if (sideBySide) {
    const auto stacking = pipeline.add({"yuv_hstack", std::move(sideBySide->stacker), decoding, {}, {}});
    pipeline.add({"ffmpeg", std::move(sideBySide->encoder), stacking, {}, [&ffmpegText](std::string_view line) {
                    ffmpegText.feed(std::string(line) + "\n");
                  }});
  }
  const tools::PipelineOutcome outcome = pipeline.run(engine.stopToken());
  if (outcome.cancelled)
    throw ConversionError::cancelled();
  const tools::StageOutcome *failed = outcome.blamed();
  if (!failed)
    return;
  engine.verbose("Direct pipeline decoder stderr:\n" + decoderLines.kept().joined(10));
  const int status = failed->shellStatus();
  if (failed->name == "ffmpeg")
    throw ConversionError::encodingFailed(
        toolFailureText("ffmpeg", "side-by-side encoder", status, reasonLine(ffmpegText.text())));
  if (failed->name == "yuv_hstack")
    throw ConversionError::encodingFailed(
        toolFailureText("yuv_hstack", "view stacker", status, reasonLine(failed->lastLines)));
  if (failed->name == "MVHEVCConverter")
    throw ConversionError::encodingFailed(
        toolFailureText("MVHEVCConverter", "MV-HEVC encoder", status, converterErrors.error()));
  throw ConversionError::decodingFailed(
      toolFailureText(request.decoder, "decoder", status, reasonLine(decoderLines.kept().lines())));
}

} // namespace kestrova::pipeline
