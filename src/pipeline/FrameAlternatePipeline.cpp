#include "pipeline/FrameAlternatePipeline.h"

#include "core/Errors.h"
#include "core/Utf8.h"
#include "pipeline/EncoderParameters.h"
#include "pipeline/EncoderTable.h"
#include "pipeline/FrameAlternateScript.h"
#include "pipeline/HelperOutputParsers.h"
#include "pipeline/MvhevcConversion.h"
#include "pipeline/ToolOutputParsers.h"

#include <condition_variable>
#include <fmt/format.h>
#include <fstream>
#include <thread>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

// Polls ffmpeg.log for progress while the script runs: first after 1 s, then
// every 1.5 s, until destroyed.
class LogPoller {
public:
  LogPoller(fs::path folder, double duration, ProgressReport progress)
      : thread_([folder = std::move(folder), duration, progress = std::move(progress)](std::stop_token stop) {
          std::mutex mutex;
          std::condition_variable_any wake;
          auto delay = std::chrono::milliseconds(1000);
          std::unique_lock lock(mutex);
          // wait_for returns the (always false) predicate both on timeout and
          // on a stop request, so the stop has to be asked for separately.
          for (;;) {
            wake.wait_for(lock, stop, delay, [] { return false; });
            if (stop.stop_requested())
              break;
            pollFfmpegLog(folder, duration, progress);
            delay = std::chrono::milliseconds(1500);
          }
        }) {}

private:
  std::jthread thread_;
};

} // namespace

ConversionResult runFrameAlternatePipeline(PipelineRun &run, bool rightFirst) {
  PipelineEngine &engine = run.engine;
  engine.verbose(std::string("=== Frame-Alternate 3D Pipeline (") +
                 (rightFirst ? "block_rl \u2014 right eye first" : "block_lr \u2014 left eye first") + ") ===");
  engine.verbose("Split even/odd frames \u2192 left/right eyes \u2192 SBS via ffmpeg");
  run.plan.follow(run.outputs.spatial ? ProgressRoad::frameAlternateThenSpatial : ProgressRoad::frameAlternate);
  run.report(ConversionStage::encoding, 0.05);
  auto ffmpeg = engine.findTool("ffmpeg");
  if (!ffmpeg)
    throw ConversionError::toolNotFound("ffmpeg not found: install Debian's ffmpeg package (apt-get install ffmpeg) or "
                                        "put ffmpeg into the tools folder");

  double duration = run.job.durationLimit ? static_cast<double>(*run.job.durationLimit)
                    : run.duration > 0    ? run.duration
                                          : 7200.0;
  const bool spatial = run.outputs.spatial.has_value();
  // A side-by-side file the user does not keep is only the converter's input.
  fs::path sbsOutput =
      run.outputs.sideBySide ? run.writePath(*run.outputs.sideBySide) : run.workDirectory / (run.baseName + "_SBS.mov");
  fs::path folder = run.workDirectory / "fa_work";
  fs::create_directories(folder);
  engine.verbose("Work directory: " + folder.string());

  FrameAlternateScriptInput input{*ffmpeg,
                                  run.job.sourceURL,
                                  folder,
                                  sbsOutput,
                                  rightFirst,
                                  run.job.qualityPreset,
                                  run.job.outputCodec,
                                  run.job.outputTarget,
                                  run.job.durationLimit};
  fs::path script = folder / "pipeline.sh";
  {
    std::ofstream out(script, std::ios::binary | std::ios::trunc);
    out << frameAlternateScript(input, EncoderTable::probe(*ffmpeg));
    if (!out.flush())
      throw fs::filesystem_error("cannot write script", script, std::make_error_code(std::errc::io_error));
  }

  tools::ProcessLaunch launch;
  launch.executable = engine.programs().bash;
  launch.arguments = {script.string()};
  launch.workingDirectory = run.workDirectory;
  auto process = engine.createCurrentProcess(launch);
  engine.verbose("Running frame-alternate \u2192 SBS pipeline...");
  tools::LastLines scriptOutput(20);
  auto onOutput = [&](std::string_view line) {
    line = trimmedLine(line);
    if (line.empty())
      return;
    scriptOutput.add(line);
    if (line.starts_with("FA:"))
      engine.log(escapedForLog(line));
  };
  tools::ExitStatus status;
  {
    LogPoller poller(folder, duration, [&run](ConversionStage stage, double f) { run.report(stage, f); });
    status = tools::runAndStreamLines(*process, onOutput, onOutput);
  }
  if (!status.success()) {
    std::string outputTail = scriptOutput.joined();
    std::string detail = "Pipeline exited with code " + std::to_string(status.terminationStatus);
    std::string logTail = tools::lastLinesOfFile(folder / "ffmpeg.log", 15);
    if (!logTail.empty())
      detail += "\nffmpeg: " + logTail;
    detail += "\n\u2014 Script output \u2014\n" + outputTail;
    engine.verbose("DIAGNOSTIC: " + detail);
    throw ConversionError::decodingFailed(detail);
  }

  std::error_code ec;
  auto size = fs::file_size(sbsOutput, ec);
  engine.verbose(fmt::format("SBS output: {} ({} MB)", sbsOutput.filename().string(), ec ? 0 : size / 1000000));
  fs::remove_all(folder, ec);
  engine.verbose("Cleaned up intermediate files");

  fs::path finalOutput = run.outputs.sideBySide.value_or(sbsOutput);
  if (spatial) {
    engine.verbose("=== Converting to MV-HEVC for Apple Vision Pro ===");
    finalOutput = *run.outputs.spatial;
    convertToMVHEVC(engine, sbsOutput, run.writePath(finalOutput), run.job.qualityPreset,
                    [&run](ConversionStage stage, double f) { run.report(stage, f); });
  }
  run.report(ConversionStage::complete, 1.0);
  engine.verbose("=== Pipeline complete! ===");
  engine.verbose("Output: " + finalOutput.string());
  run.succeeded = true;
  std::optional<std::string> kept;
  if (run.outputs.sideBySide)
    kept = run.outputs.sideBySide->string();
  return {finalOutput.string(), run.workDirectory, kept};
}

} // namespace kestrova::pipeline
