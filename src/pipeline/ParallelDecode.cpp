#include "pipeline/ParallelDecode.h"

#include "core/Errors.h"
#include "pipeline/EncoderParameters.h"
#include "pipeline/HelperOutputParsers.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/ToolBlame.h"
#include "tools/Process.h"

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

// Arguments that name how the video is stored rather than how it is encoded:
// the join sets them, where the segments' video is copied.
bool isContainerOption(const std::string &argument) {
  return argument == "-tag:v" || argument == "-metadata:s:v:0" || argument == "-movflags";
}

} // namespace

SegmentedEncode segmentedEncode(const StreamDecodeRequest &request, const EncoderTable &encoders) {
  SegmentedEncode encode;
  encode.join = sourceTrackArguments(1, request.output);
  const std::vector<std::string> audio = encoders.translate(streamAudioArgumentList(request.target));
  encode.join.insert(encode.join.end(), audio.begin(), audio.end());
  const std::vector<std::string> video =
      encoders.translate(videoArguments(request.preset, request.codec, request.output));
  for (std::size_t i = 0; i < video.size(); ++i) {
    if (isContainerOption(video[i]) && i + 1 < video.size()) {
      encode.join.insert(encode.join.end(), {video[i], video[i + 1]});
      ++i;
    } else {
      encode.encode.push_back(video[i]);
    }
  }
  return encode;
}

std::vector<std::string> parallelPipelineArguments(const std::string &script, const StreamDecodeRequest &request,
                                                   const ParallelOptions &options, const EncoderTable &encoders) {
  std::vector<std::string> arguments{script,
                                     request.input.string(),
                                     request.audioSource.string(),
                                     request.output.string(),
                                     "--width",
                                     std::to_string(request.width),
                                     "--height",
                                     std::to_string(request.height),
                                     "--fps",
                                     std::to_string(request.frameRateNum) + "/" + std::to_string(request.frameRateDen),
                                     "--workdir",
                                     request.workDirectory.string()};
  if (request.rightFirst)
    arguments.emplace_back("--swap");
  if (options.dualSplitMvc)
    arguments.insert(arguments.end(), {"--dual-split", request.input.string(), options.dualSplitMvc->string()});
  const SegmentedEncode encode = segmentedEncode(request, encoders);
  for (const auto &argument : encode.encode)
    arguments.insert(arguments.end(), {"--encode", argument});
  for (const auto &argument : encode.join)
    arguments.insert(arguments.end(), {"--join", argument});
  return arguments;
}

void decodeSBSParallel(PipelineEngine &engine, const StreamDecodeRequest &request, const ParallelOptions &options,
                       const ProgressReport &progress) {
  const std::string script = options.script.string();
  std::error_code ec;
  if (script.empty() || !fs::exists(script, ec))
    throw ConversionError::toolNotFound("parallel-pipeline.sh not found");
  engine.log("=== Parallel pipeline: segment-parallel decode+encode [SBS] ===");
  engine.log(std::string("Workers: auto-detect, swap: ") + (request.rightFirst ? "true" : "false"));
  engine.log("Script: " + script);
  auto ffmpeg = engine.findTool("ffmpeg");
  const EncoderTable encoders = EncoderTable::probe(ffmpeg.value_or("ffmpeg"));

  tools::ProcessLaunch launch;
  launch.executable = engine.programs().bash;
  launch.arguments = parallelPipelineArguments(script, request, options, encoders);
  if (options.dualSplitMvc)
    engine.log("Dual-split mode: base=" + request.input.filename().string() +
               " mvc=" + options.dualSplitMvc->filename().string());
  auto process = engine.createCurrentProcess(std::move(launch));

  ParallelPhaseParser phases(ConversionStage::encoding, progress, engine.onLog);
  ParallelErrorFilter errors(engine.onLog);
  auto status = tools::runAndStreamLines(
      *process, [&phases](std::string_view line) { phases.onLine(line); },
      [&errors](std::string_view line) { errors.onLine(line); });

  if (!status.success()) {
    engine.verbose("Parallel pipeline output:\n" + phases.kept().joined(20));
    throw ConversionError::decodingFailed(toolFailureText("parallel-pipeline.sh", "segment-parallel decoder",
                                                          status.terminationStatus, reasonLine(process->errorTail())));
  }
  std::error_code sizeError;
  const auto size = fs::file_size(request.output, sizeError);
  engine.verbose("SBS output: " + request.output.filename().string() + " (" +
                 std::to_string(sizeError ? 0 : size / 1000000) + " MB)");
}

} // namespace kestrova::pipeline
