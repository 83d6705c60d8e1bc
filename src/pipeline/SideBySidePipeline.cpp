#include "pipeline/SideBySidePipeline.h"

#include "core/Errors.h"
#include "pipeline/EncoderParameters.h"
#include "pipeline/EncoderTable.h"
#include "pipeline/MvhevcConversion.h"
#include "tools/Process.h"

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

ConversionResult copyToOutput(PipelineRun &run) {
  const fs::path &source = run.job.sourceURL;
  fs::path output = run.job.outputDirectory / (run.baseName + "_SBS" + source.extension().string());
  run.report(ConversionStage::encoding, 0.5);
  run.engine.verbose("Input is already SBS \u2014 copying to output...");
  // copy_options::none refuses an existing target: a user's file is never replaced.
  fs::copy_file(source, output, fs::copy_options::none);
  run.report(ConversionStage::complete, 1.0);
  run.succeeded = true;
  return {output.string(), run.workDirectory, std::nullopt};
}

fs::path remuxForConverter(PipelineRun &run) {
  run.engine.log("Remuxing MKV \u2192 MOV + transcoding audio to AAC 5.1...");
  auto ffmpeg = run.engine.findTool("ffmpeg");
  if (!ffmpeg)
    throw ConversionError::toolNotFound("ffmpeg not found for MKV remux");
  fs::path remuxed = run.workDirectory / (run.baseName + "_remuxed.mov");
  tools::ProcessLaunch launch;
  launch.executable = *ffmpeg;
  std::vector<std::string> arguments{"-y", "-i", run.job.sourceURL.string(), "-c:v", "copy"};
  if (takesHvc1Tag(run.engine, run.job.sourceURL))
    arguments.insert(arguments.end(), {"-tag:v", "hvc1"});
  arguments.insert(arguments.end(), {"-c:a", "aac_at", "-b:a", "448k", "-ac", "6", "-ar", "48000", "-movflags",
                                     "+faststart", remuxed.string()});
  launch.arguments = EncoderTable::probe(*ffmpeg).translate(arguments);
  launch.standardOutput = tools::StreamMode::discard;
  launch.standardError = tools::StreamMode::discard;
  auto status = tools::runAndCollect(run.engine.inWorkDirectory(launch)).status;
  if (!status.success())
    throw ConversionError::encodingFailed("MKV \u2192 MOV remux failed (exit " +
                                          std::to_string(status.terminationStatus) + ")");
  run.engine.log("Remux complete: " + remuxed.filename().string());
  return remuxed;
}

} // namespace

ConversionResult runSideBySidePipeline(PipelineRun &run) {
  run.engine.verbose("=== Side-by-Side Pipeline ===");
  run.engine.verbose("Input already SBS \u2014 skipping demux/interleave/decode");
  if (run.job.outputTarget == OutputTarget::sbs3D)
    return copyToOutput(run);

  fs::path output = run.job.outputDirectory / (run.baseName + "_MV-HEVC.mov");
  run.report(ConversionStage::convertingMVHEVC, 0.05);
  run.engine.verbose("=== Converting SBS \u2192 MV-HEVC ===");
  fs::path converterInput = hasExtension(run.job.sourceURL, "mkv") ? remuxForConverter(run) : run.job.sourceURL;
  convertToMVHEVC(run.engine, converterInput, output, run.job.qualityPreset,
                  [&run](ConversionStage stage, double fraction) { run.report(stage, fraction); });
  run.report(ConversionStage::complete, 1.0);
  run.engine.verbose("\u2705 MV-HEVC conversion complete: " + output.filename().string());
  run.succeeded = true;
  return {output.string(), run.workDirectory, std::nullopt};
}

} // namespace kestrova::pipeline
