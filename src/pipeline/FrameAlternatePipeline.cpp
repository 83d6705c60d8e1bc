#include "pipeline/FrameAlternatePipeline.h"
#include "pipeline/RequiredTool.h"

#include "core/Errors.h"
#include "core/Utf8.h"
#include "pipeline/EncoderParameters.h"
#include "pipeline/EncoderTable.h"
#include "pipeline/FrameAlternateEncode.h"
#include "pipeline/HelperOutputParsers.h"
#include "pipeline/MvhevcConversion.h"
#include "pipeline/SbsPipeDecode.h"
#include "pipeline/ToolBlame.h"
#include "pipeline/ToolOutputParsers.h"
#include "tools/ProcessPipeline.h"

#include <algorithm>
#include <fmt/format.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

ConversionResult runFrameAlternatePipeline(PipelineRun &run, bool rightFirst) {
  PipelineEngine &engine = run.engine;
  engine.verbose(std::string("=== Frame-Alternate 3D Pipeline (") +
                 (rightFirst ? "block_rl \u2014 right eye first" : "block_lr \u2014 left eye first") + ") ===");
  engine.verbose("Split even/odd frames \u2192 left/right eyes \u2192 SBS via ffmpeg");
  run.plan.follow(run.outputs.spatial ? ProgressRoad::frameAlternateThenSpatial : ProgressRoad::frameAlternate);
  run.report(ConversionStage::encoding, 0.05);
  const std::string ffmpeg = requireFfmpeg(engine);

  const double duration = run.job.durationLimit ? static_cast<double>(*run.job.durationLimit)
                          : run.duration > 0    ? run.duration
                                                : 7200.0;
  const bool spatial = run.outputs.spatial.has_value();
  // A side-by-side file the user does not keep is only the converter's input.
  fs::path sbsOutput =
      run.outputs.sideBySide ? run.writePath(*run.outputs.sideBySide) : run.workDirectory / (run.baseName + "_SBS.mov");

  const FrameAlternateEncode encode{run.job.sourceURL,     sbsOutput,           rightFirst,
                                    run.job.qualityPreset, run.job.outputCodec, run.job.outputTarget,
                                    run.job.durationLimit};
  tools::ProcessLaunch launch{
      ffmpeg, frameAlternateArguments(encode, EncoderTable::probe(ffmpeg)), run.workDirectory, {}, {}};
  engine.log(std::string("Encoding frame-alternate \u2192 SBS (") + (rightFirst ? "right-first" : "left-first") + ")");
  tools::LastLines ffmpegLines(15);
  tools::ProcessPipeline pipeline = enginePipeline(engine);
  pipeline.add({"ffmpeg", std::move(launch), {}, {}, [&](std::string_view line) {
                  tools::keepToolErrorLine(ffmpegLines, line);
                  auto time = timeValueInLine(line);
                  if (time && *time > 0)
                    run.report(ConversionStage::encoding, 0.1 + 0.8 * std::min(*time / duration, 1.0));
                }});
  const tools::PipelineOutcome outcome = pipeline.run(engine.stopToken());
  if (outcome.cancelled)
    throw ConversionError::cancelled();
  if (const tools::StageOutcome *failed = outcome.blamed()) {
    const std::string detail =
        toolFailureText("ffmpeg", "frame-alternate encoder", failed->shellStatus(), reasonLine(ffmpegLines.lines())) +
        "\nffmpeg: " + ffmpegLines.joined();
    engine.verbose("DIAGNOSTIC: " + detail);
    throw ConversionError::decodingFailed(detail);
  }

  std::error_code ec;
  auto size = fs::file_size(sbsOutput, ec);
  engine.verbose(fmt::format("SBS output: {} ({} MB)", sbsOutput.filename().string(), ec ? 0 : size / 1000000));

  fs::path finalOutput = run.outputs.sideBySide.value_or(sbsOutput);
  if (spatial) {
    engine.verbose("=== Converting to MV-HEVC for Apple Vision Pro ===");
    finalOutput = *run.outputs.spatial;
    convertToMVHEVC(engine, sbsOutput, run.writePath(finalOutput), run.job.qualityPreset,
                    [&run](ConversionStage stage, double f) { run.report(stage, f); });
  }
  engine.verbose("=== Pipeline complete! ===");
  engine.verbose("Output: " + finalOutput.string());
  run.succeeded = true;
  std::optional<std::string> kept;
  if (run.outputs.sideBySide)
    kept = run.outputs.sideBySide->string();
  return {finalOutput.string(), run.workDirectory, kept};
}

} // namespace kestrova::pipeline
