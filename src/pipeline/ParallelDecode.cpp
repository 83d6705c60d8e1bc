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

std::optional<int> rateCap(QualityPreset preset, bool directMVHEVC) {
  return directMVHEVC ? spatialRateCapMbps(preset) : rateCapMbps(preset);
}

} // namespace

std::string parallelQualityText(QualityPreset preset, bool directMVHEVC) {
  return directMVHEVC ? spatialQualityText(preset) : std::to_string(qualityValue(preset));
}

std::vector<std::string> parallelPipelineArguments(const std::string &script, const StreamDecodeRequest &request,
                                                   const ParallelOptions &options) {
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
                                     "--quality",
                                     parallelQualityText(request.preset, options.directMVHEVC),
                                     "--audio-args",
                                     streamAudioArguments(request.target),
                                     "--workdir",
                                     request.workDirectory.string()};
  if (!usesHevc(request.output, request.codec))
    arguments.insert(arguments.end(), {"--codec", "h264"});
  if (options.directMVHEVC)
    arguments.emplace_back("--mvhevc");
  if (options.streamMode) {
    arguments.emplace_back("--stream");
    if (options.estimatedStreamSize >= 1)
      arguments.insert(arguments.end(), {"--estimated-size", std::to_string(options.estimatedStreamSize)});
  }
  if (auto cap = rateCap(request.preset, options.directMVHEVC))
    arguments.insert(arguments.end(), {"--maxrate", std::to_string(*cap)});
  if (request.rightFirst)
    arguments.emplace_back("--swap");
  if (options.dualSplitMvc)
    arguments.insert(arguments.end(), {"--dual-split", request.input.string(), options.dualSplitMvc->string()});
  if (request.decoder != "ldecod-pipe")
    arguments.insert(arguments.end(), {"--decoder", request.decoder});
  return arguments;
}

void decodeSBSParallel(PipelineEngine &engine, const StreamDecodeRequest &request, const ParallelOptions &options,
                       const ProgressReport &progress) {
  const std::string script = options.script.string();
  std::error_code ec;
  if (script.empty() || !fs::exists(script, ec))
    throw ConversionError::toolNotFound("parallel-pipeline.sh not found");
  const std::string quality = parallelQualityText(request.preset, options.directMVHEVC);
  const char *suffix = options.directMVHEVC ? " [DIRECT MV-HEVC]" : " [SBS]";
  engine.log(std::string("=== Parallel pipeline: segment-parallel decode+encode") + suffix + " ===");
  engine.log("Workers: auto-detect, quality: " + quality + ", swap: " + (request.rightFirst ? "true" : "false") +
             ", directMVHEVC: " + (options.directMVHEVC ? "true" : "false"));
  engine.log("Script: " + script);

  tools::ProcessLaunch launch;
  launch.executable = engine.programs().bash;
  launch.arguments = parallelPipelineArguments(script, request, options);
  if (options.dualSplitMvc)
    engine.log("Dual-split mode: base=" + request.input.filename().string() +
               " mvc=" + options.dualSplitMvc->filename().string());
  auto process = engine.createCurrentProcess(std::move(launch));

  ParallelPhaseParser phases(options.directMVHEVC ? ConversionStage::encodingMVHEVC : ConversionStage::encoding,
                             progress, engine.onLog);
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
