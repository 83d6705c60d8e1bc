#include "pipeline/SbsPipeDecode.h"

#include "core/Errors.h"
#include "demux/Demux.h"
#include "pipeline/EncoderParameters.h"
#include "pipeline/HelperOutputParsers.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/ShellQuote.h"
#include "tools/Process.h"

#include <cmath>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

std::string joinWords(const std::vector<std::string> &words) {
  std::string text;
  for (const auto &word : words) {
    if (!text.empty())
      text += ' ';
    text += word;
  }
  return text;
}

std::vector<std::string> splitWords(std::string_view text) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string_view::npos)
      end = text.size();
    if (end > start)
      words.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

} // namespace

std::string pipePipelineScript(const StreamDecodeRequest &request, const PipeTools &tools,
                               const EncoderTable &encoders) {
  // The pipe always encodes HEVC, whatever codec the user picked: the
  // streaming route exists for the long films where HEVC's size matters.
  const std::string video =
      joinWords(encoders.translate({"-c:v", "hevc_videotoolbox", "-q:v", std::to_string(qualityValue(request.preset)),
                                    "-tag:v", "hvc1", "-pix_fmt", "yuv420p"}));
  const std::string audio = joinWords(encoders.translate(splitWords(streamAudioArguments(request.target))));
  const std::string rate = std::to_string(request.frameRateNum) + "/" + std::to_string(request.frameRateDen);

  std::string script = "#!/bin/bash\nset -o pipefail\ncd ";
  script += shellQuote(request.input.parent_path().string());
  script += "\n" + shellQuote(tools.ldecodPipe);
  script += "     -p InputFile=input_stream.264     -p OutputFile=output.yuv     -p DecodeAllLayers=1 | ";
  script += shellQuote(tools.yuvHstack) + " " + std::to_string(request.width) + " " + std::to_string(request.height);
  if (request.rightFirst)
    script += " swap";
  script += " | " + shellQuote(tools.ffmpeg) + " -y     -f rawvideo -pix_fmt yuv420p -s ";
  script += std::to_string(2 * request.width) + "x" + std::to_string(request.height) + " -r " + rate;
  script += "     -i pipe:0     -i " + shellQuote(request.audioSource.string());
  script += "     -map 0:v -map '1:a:0?'     " + video + "     " + audio;
  script += " -shortest     -movflags +faststart     " + shellQuote(request.output.string()) + "     2>&1";
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

  // The decoder takes ldecod's fixed input name, relative to the work directory.
  const fs::path workDirectory = request.input.parent_path();
  const fs::path link = workDirectory / "input_stream.264";
  std::error_code ignored;
  fs::remove(link, ignored);
  fs::create_symlink(request.input, link);

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
  auto status = tools::runAndStream(
      *process, [&ffmpegLines](std::string_view chunk) { ffmpegLines.feed(chunk); },
      [&toolLines](std::string_view chunk) { toolLines.feed(chunk); });

  if (!status.success()) {
    engine.verbose("Pipe pipeline stderr:\n" + joinLastLines(toolLines.lines(), 10));
    throw ConversionError::decodingFailed("Pipe pipeline exited with code " + std::to_string(status.terminationStatus));
  }
  std::error_code sizeError;
  const auto size = fs::file_size(request.output, sizeError);
  engine.verbose("SBS output: " + request.output.filename().string() + " (" +
                 std::to_string(sizeError ? 0 : size / 1000000) + " MB)");
}

} // namespace kestrova::pipeline
