#include "pipeline/SbsPipeDecode.h"

#include "core/Errors.h"
#include "demux/Demux.h"
#include "pipeline/EncoderParameters.h"
#include "pipeline/HelperOutputParsers.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/ShellQuote.h"
#include "pipeline/ToolBlame.h"
#include "tools/Process.h"

#include <cmath>
#include <cstdio>
#include <fmt/format.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

// The script's last line on standard error: the exit status of each tool.
constexpr std::string_view kPipeStatusLine = "pipe-pipeline: status ";

/// The failing tool of the pipe road in words. The encoder's failure comes
/// first: when it stops, the tools before it only lose their reader.
[[noreturn]] void throwPipeFailure(const StreamDecodeRequest &request, const std::vector<std::string> &toolLines,
                                   const std::string &ffmpegText, int scriptStatus) {
  int decoder = -1, stacker = -1, encoder = -1;
  std::vector<std::string> decoderLines, stackerLines;
  for (const auto &line : toolLines) {
    if (line.starts_with(kPipeStatusLine))
      std::sscanf(line.c_str() + kPipeStatusLine.size(), "%d %d %d", &decoder, &stacker, &encoder);
    else if (line.starts_with("yuv_hstack"))
      stackerLines.push_back(line);
    else
      decoderLines.push_back(line);
  }
  if (encoder > 0)
    throw ConversionError::encodingFailed(
        toolFailureText("ffmpeg", "side-by-side encoder", encoder, reasonLine(ffmpegText)));
  if (decoder > 0 && !lostItsReader(decoder)) {
    std::int64_t pairs = 0;
    for (const auto &line : decoderLines)
      pairs = decodedFramePairs(line).value_or(pairs);
    const double seconds = request.frameRateNum > 0
                               ? static_cast<double>(pairs) * static_cast<double>(request.frameRateDen) /
                                     static_cast<double>(request.frameRateNum)
                               : 0.0;
    const std::string role = fmt::format("decoder, after {} pictures: {:.2f} s", pairs, seconds);
    throw ConversionError::decodingFailed(toolFailureText(request.decoder, role, decoder, reasonLine(decoderLines)));
  }
  if (stacker > 0 && !lostItsReader(stacker))
    throw ConversionError::encodingFailed(
        toolFailureText("yuv_hstack", "view stacker", stacker, reasonLine(stackerLines)));
  throw ConversionError::decodingFailed("Pipe pipeline exited with code " + std::to_string(scriptStatus));
}

std::string joinWords(const std::vector<std::string> &words) {
  std::string text;
  for (const auto &word : words) {
    if (!text.empty())
      text += ' ';
    text += word;
  }
  return text;
}

} // namespace

std::string sideBySideEncodeCommand(const StreamDecodeRequest &request, const std::string &yuvHstack,
                                    const std::string &ffmpeg, const EncoderTable &encoders) {
  // The same codec, quality, rate cap and side-by-side tag as every other
  // variant, so the variant a run takes never shows in its output.
  std::vector<std::string> videoWords = videoArguments(request.preset, request.codec, request.output);
  videoWords.insert(videoWords.end(), {"-pix_fmt", "yuv420p"});
  std::erase(videoWords, "+faststart");
  std::erase(videoWords, "-movflags");
  const std::string video = joinWords(encoders.translate(videoWords));
  const std::string audio = joinWords(encoders.translate(streamAudioArgumentList(request.target)));
  const std::string rate = std::to_string(request.frameRateNum) + "/" + std::to_string(request.frameRateDen);

  std::string command =
      shellQuote(yuvHstack) + " " + std::to_string(request.width) + " " + std::to_string(request.height);
  if (request.rightFirst)
    command += " swap";
  if (request.burnIn)
    command += " " + quotedWords(stackerBurnInArguments(request.burnIn, request.frameRateNum, request.frameRateDen));
  command += " | " + shellQuote(ffmpeg) + " -y     -f rawvideo -pix_fmt yuv420p -s ";
  command += std::to_string(2 * request.width) + "x" + std::to_string(request.height) + " -r " + rate;
  command += "     -i pipe:0     -i " + shellQuote(request.audioSource.string());
  command +=
      "     -map 0:v " + quotedWords(sourceTrackArguments(1, request.output)) + "     " + video + "     " + audio;
  command += " -shortest     -movflags +faststart     " + shellQuote(request.output.string());
  return command;
}

std::string pipePipelineScript(const StreamDecodeRequest &request, const PipeTools &tools,
                               const EncoderTable &encoders) {
  std::string script = "#!/bin/bash\nset -o pipefail\ncd ";
  script += shellQuote(request.workDirectory.string());
  script += "\n" + shellQuote(tools.ldecodPipe) + "     -p " + shellQuote("InputFile=" + request.input.string());
  script += "     -p OutputFile=output.yuv     -p DecodeAllLayers=1 | ";
  script += sideBySideEncodeCommand(request, tools.yuvHstack, tools.ffmpeg, encoders) + "     2>&1";
  // Which of the three failed decides whom the message names.
  script += "\ns=(\"${PIPESTATUS[@]}\")\necho \"" + std::string(kPipeStatusLine) + "${s[*]}\" >&2\n";
  script += "[ \"${s[*]}\" = \"0 0 0\" ]";
  return script;
}

std::int64_t estimatedFramesPerView(double seconds, std::int64_t frameRateNum, std::int64_t frameRateDen) {
  if (frameRateDen <= 0 || frameRateNum <= 0 || !(seconds > 0))
    return 1;
  // A nonsense duration must not overflow the count.
  const double frames =
      std::min(std::floor(seconds * static_cast<double>(frameRateNum) / static_cast<double>(frameRateDen)), 9.0e18);
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(frames));
}

void decodeSBSPipe(PipelineEngine &engine, const StreamDecodeRequest &request, const ProgressReport &progress) {
  auto ldecodPipe = engine.findTool(request.decoder);
  auto yuvHstack = engine.findTool("yuv_hstack");
  auto ffmpeg = engine.findTool("ffmpeg");
  if (!ldecodPipe || !yuvHstack || !ffmpeg)
    throw ConversionError::toolNotFound(request.decoder + ", yuv_hstack, or ffmpeg not found");
  if (request.rightFirst)
    engine.verbose("block_rl detected \u2014 yuv_hstack will swap eyes");

  const fs::path &workDirectory = request.workDirectory;
  const fs::path script = workDirectory / "pipe_pipeline.sh";
  demux::writeFileAtomically(
      script, pipePipelineScript(request, {*ldecodPipe, *yuvHstack, *ffmpeg}, EncoderTable::probe(*ffmpeg)));

  tools::ProcessLaunch launch;
  launch.executable = engine.programs().bash;
  launch.arguments = {script.string()};
  launch.workingDirectory = workDirectory;
  auto process = engine.createCurrentProcess(std::move(launch));

  PipeToolLineParser toolLines(estimatedFramesPerView(request.duration, request.frameRateNum, request.frameRateDen),
                               progress, engine.onLog);
  FfmpegEchoFilter ffmpegLines(engine.onLog);
  TextTail ffmpegText;
  auto status = tools::runAndStreamLines(
      *process,
      [&ffmpegLines, &ffmpegText](std::string_view line) {
        ffmpegLines.onLine(line);
        ffmpegText.feed(std::string(line) + "\n");
      },
      [&toolLines](std::string_view line) { toolLines.onLine(line); });

  if (!status.success()) {
    engine.verbose("Pipe pipeline stderr:\n" + toolLines.kept().joined(10));
    throwPipeFailure(request, toolLines.kept().lines(), ffmpegText.text(), status.terminationStatus);
  }
  std::error_code sizeError;
  const auto size = fs::file_size(request.output, sizeError);
  engine.verbose("SBS output: " + request.output.filename().string() + " (" +
                 std::to_string(sizeError ? 0 : size / 1000000) + " MB)");
}

} // namespace kestrova::pipeline
