#include "pipeline/DirectMvhevcPipe.h"

#include "core/Errors.h"
#include "core/Utf8.h"
#include "demux/Demux.h"
#include "pipeline/EncoderParameters.h"
#include "pipeline/HelperOutputParsers.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/SbsPipeDecode.h"
#include "pipeline/ShellQuote.h"
#include "pipeline/ToolBlame.h"
#include "tools/Process.h"

#include <charconv>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

// The script's last line on standard error: the exit status of each side.
constexpr std::string_view kStatusLine = "direct-pipeline: status ";

/// The exit status of each side from the script's status line, when it
/// printed one; -1 for a side it did not run or name.
struct SideStatus {
  int decoder = -1;
  int converter = -1;
  int tee = -1;
  int sideBySide = -1;
};

SideStatus sideStatus(const std::vector<std::string> &lines) {
  SideStatus status;
  for (const auto &line : lines) {
    if (!line.starts_with(kStatusLine))
      continue;
    const char *at = line.data() + kStatusLine.size();
    const char *end = line.data() + line.size();
    for (int *side : {&status.decoder, &status.converter, &status.tee, &status.sideBySide}) {
      at = std::from_chars(at, end, *side).ptr;
      if (at == end || *at != ' ')
        break;
      ++at;
    }
  }
  return status;
}

/// Sends the converter's own lines ("MVHEVCConverter: ...") to the normal
/// log and every line of standard error to the decoder's parser, which keeps
/// the last ones for a failure.
class ErrorLines {
public:
  ErrorLines(PipeToolLineParser &decoderLines, PipelineEngine &engine) : decoderLines_(decoderLines), engine_(engine) {}

  void onLine(std::string_view line) {
    decoderLines_.onLine(line);
    if (line.starts_with("MVHEVCConverter:"))
      engine_.log("\u26a0\ufe0f " + escapedForLog(line));
    if (line.starts_with("MVHEVCConverter: error: "))
      converterError_ = escapedForLog(line.substr(24));
  }

  const std::string &converterError() const { return converterError_; }

private:
  PipeToolLineParser &decoderLines_;
  PipelineEngine &engine_;
  std::string converterError_;
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

std::string directPipelineScript(const StreamDecodeRequest &request, const DirectTools &tools) {
  const bool tee = !tools.sideBySide.empty();
  std::string script = "#!/bin/bash\ncd " + shellQuote(request.workDirectory.string()) + " || exit 1\n";
  if (tee) {
    // A process substitution, not a FIFO: it needs no file system support,
    // and bash can still wait for it and read its status. Its status is the
    // first failing program's.
    script += "exec 3> >(" + tools.sideBySide + " 2>side_by_side.log; s=(\"${PIPESTATUS[@]}\"); ";
    script += "[ \"${s[0]}\" = 0 ] && exit \"${s[1]:-0}\"; exit \"${s[0]}\")\nsbs=$!\n";
  }
  script += shellQuote(tools.decoder) + " -p " + shellQuote("InputFile=" + request.input.string());
  script += " -p OutputFile=output.yuv -p DecodeAllLayers=1";
  // Only tee may hold the side-by-side pipe open, or its encoder would wait
  // for the end of its input as long as another program lives.
  script += tee ? " 3>&- | tee --output-error=exit /dev/fd/3 | " : " | ";
  script += shellQuote(tools.converter);
  for (const auto &argument : pairInputArguments(request))
    script += " " + shellQuote(argument);
  // Which side failed decides the message: a converter that stopped leaves
  // the decoder (and tee) to die of a broken pipe, so their status says little.
  script += tee ? " 3>&-\n" : "\n";
  script += "status=(\"${PIPESTATUS[@]}\")\n";
  if (tee)
    script += "exec 3>&-\nwait \"$sbs\"\nstatus+=($?)\n";
  const std::string sides = tee ? "${status[0]} ${status[2]} ${status[1]} ${status[3]}" : "${status[0]} ${status[1]}";
  script += "echo \"" + std::string(kStatusLine) + sides + "\" >&2\n";
  script += std::string("[ \"${status[*]}\" = \"") + (tee ? "0 0 0 0" : "0 0") + "\" ]";
  return script;
}

void encodeDirectMvhevc(PipelineEngine &engine, const StreamDecodeRequest &request, const ProgressReport &progress) {
  auto decoder = engine.findTool(request.decoder);
  auto converter = engine.findTool("MVHEVCConverter");
  if (!decoder || !converter)
    throw ConversionError::toolNotFound(request.decoder + " or MVHEVCConverter not found");
  DirectTools tools{*decoder, *converter, {}};
  if (request.keptSideBySide.empty()) {
    engine.log("=== Decode \u2192 MV-HEVC in one encode (" + request.decoder + " \u2192 MVHEVCConverter) ===");
  } else {
    auto yuvHstack = engine.findTool("yuv_hstack");
    auto ffmpeg = engine.findTool("ffmpeg");
    if (!yuvHstack || !ffmpeg)
      throw ConversionError::toolNotFound("yuv_hstack or ffmpeg not found");
    StreamDecodeRequest sideBySide = request;
    sideBySide.output = request.keptSideBySide;
    tools.sideBySide = sideBySideEncodeCommand(sideBySide, *yuvHstack, *ffmpeg, EncoderTable::probe(*ffmpeg));
    engine.log("=== Decode once \u2192 MV-HEVC and side by side at once (" + request.decoder +
               " \u2192 MVHEVCConverter + ffmpeg) ===");
  }
  if (request.rightFirst)
    engine.verbose("block_rl detected \u2014 the converter takes view 1 as the left eye");

  const fs::path script = request.workDirectory / "direct_pipeline.sh";
  demux::writeFileAtomically(script, directPipelineScript(request, tools));
  tools::ProcessLaunch launch;
  launch.executable = engine.programs().bash;
  launch.arguments = {script.string()};
  launch.workingDirectory = request.workDirectory;
  auto process = engine.createCurrentProcess(std::move(launch));

  // The decoder runs ahead of the encoder by a pipe's worth of pictures, so
  // the encoder's count is the honest one; the decoder's lines are only kept.
  PipeToolLineParser decoderLines(estimatedFramesPerView(request.duration, request.frameRateNum, request.frameRateDen),
                                  {}, engine.onLog);
  ErrorLines errorLines(decoderLines, engine);
  ConverterLineParser frames(progress, engine.onLog, 0.3, 0.98);
  auto status = tools::runAndStreamLines(
      *process, [&frames](std::string_view line) { frames.onLine(line); },
      [&errorLines](std::string_view line) { errorLines.onLine(line); });
  if (status.success())
    return;

  engine.verbose("Direct pipeline stderr:\n" + decoderLines.kept().joined(10));
  const SideStatus sides = sideStatus(decoderLines.kept().lines());
  // The side-by-side encoder first: when it stops, tee ends, the decoder
  // loses its reader and the converter sees its input end early.
  if (sides.sideBySide > 0) {
    const std::string reason = reasonLine(tools::lastLinesOfFile(request.workDirectory / "side_by_side.log", 20));
    throw ConversionError::encodingFailed(toolFailureText("ffmpeg", "side-by-side encoder", sides.sideBySide, reason));
  }
  if (sides.converter > 0)
    throw ConversionError::encodingFailed(
        toolFailureText("MVHEVCConverter", "MV-HEVC encoder", sides.converter, errorLines.converterError()));
  if (sides.decoder > 0)
    throw ConversionError::decodingFailed(
        toolFailureText(request.decoder, "decoder", sides.decoder, reasonLine(decoderLines.kept().lines())));
  throw ConversionError::encodingFailed("Direct pipeline exited with code " + std::to_string(status.terminationStatus));
}

} // namespace kestrova::pipeline
