// The conversion operation of PipelineEngine: source parameters, work
// directory and routing to the pipeline that fits the source's 3D layout.
#include "core/ConsoleLine.h"
#include "core/Errors.h"
#include "pipeline/FrameAlternatePipeline.h"
#include "pipeline/MvcPipeline.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/PipelineRun.h"
#include "pipeline/SideBySidePipeline.h"
#include "pipeline/SourceAnalysis.h"
#include "tools/WorkDirectory.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fmt/format.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// Without analysis, the container decides: a 3D .mkv carries both views in
// one track, a disc stream in two.
Stereo3DMode defaultStereoMode(const fs::path &source) {
  std::string extension = source.extension().string();
  if (!extension.empty())
    extension.erase(0, 1);
  return lowercase(extension) == "mkv" ? Stereo3DMode::mvcSingleTrack(false) : Stereo3DMode::mvcSeparateTracks();
}

ConversionResult route(PipelineRun &run) {
  using Kind = Stereo3DMode::Kind;
  switch (run.stereoMode.kind()) {
  case Kind::mvcSingleTrack:
    return runMvcPipeline(run, /*singleTrack=*/true);
  case Kind::mvcSeparateTracks:
  case Kind::none:
    return runMvcPipeline(run, /*singleTrack=*/false);
  case Kind::frameAlternate:
    return runFrameAlternatePipeline(run, run.stereoMode.rightFirst());
  case Kind::sideBySide:
    return runSideBySidePipeline(run);
  }
  return runMvcPipeline(run, false);
}

} // namespace

std::optional<std::string> consoleProgressLine(ConversionStage stage, double fraction) {
  double percent = std::trunc(fraction * 100.0);
  // Beyond this the value has no 64-bit integer percentage; print nothing.
  if (!std::isfinite(percent) || std::fabs(percent) >= 9.2e18)
    return std::nullopt;
  auto whole = static_cast<std::int64_t>(percent);
  if (whole % 5 != 0)
    return std::nullopt;
  return fmt::format("[{}] {}%", caseName(stage), whole);
}

ConversionResult PipelineEngine::convert(const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo,
                                         LogFn driverLog) {
  return run(
      job, sourceInfo,
      [](ConversionStage stage, double fraction) {
        if (auto line = consoleProgressLine(stage, fraction))
          printConsoleLine(*line);
      },
      driverLog);
}

ConversionResult PipelineEngine::convert(const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo,
                                         ProgressHandler progressHandler, LogFn driverLog) {
  return run(job, sourceInfo, std::move(progressHandler), driverLog);
}

ConversionResult PipelineEngine::run(const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo,
                                     std::function<void(ConversionStage, double)> progress, const LogFn &driverLog) {
  auto say = [&driverLog](const std::string &line) {
    if (driverLog)
      driverLog(line);
  };

  std::optional<SourceFileInfo> info = sourceInfo;
  if (!info) {
    say(fmt::format("[Kestrova Build {}] Starting conversion...", kBuildNumber));
    say("Analyzing source file...");
    try {
      info = analyzer_ ? analyzer_(job.sourceURL) : analyzeSource(locator_, job.sourceURL);
    } catch (const std::exception &error) {
      say(std::string("FFProbe analysis failed: ") + error.what());
    }
  }

  // Tools run inside the work directory, so every path handed to them is absolute.
  ConversionJob absoluteJob = job;
  absoluteJob.sourceURL = fs::absolute(job.sourceURL);
  absoluteJob.outputDirectory = fs::absolute(job.outputDirectory);
  PipelineRun run(*this, std::move(absoluteJob));
  run.stereoMode = info ? info->stereoMode : defaultStereoMode(job.sourceURL);
  run.width = info ? info->videoWidth : 1920;
  run.height = info ? info->videoHeight : 1080;
  run.frameRateNum = info ? info->frameRateNum : 24000;
  run.frameRateDen = info ? info->frameRateDen : 1001;
  run.duration = info ? info->duration : 0.0;
  run.progress = std::move(progress);

  bool rightFirst = run.stereoMode.kind() == Stereo3DMode::Kind::mvcSingleTrack && run.stereoMode.rightFirst();
  say(fmt::format("Source: {}x{}, {}/{} fps, stereo: {}, rightFirst: {}", run.width, run.height, run.frameRateNum,
                  run.frameRateDen, run.stereoMode.text(), rightFirst ? "true" : "false"));

  beginRun();
  LogFn verboseSink = [this](const std::string &line) { verbose(line); };
  run.workDirectory = tools::createWorkDirectory(run.job.outputDirectory, verboseSink);
  run.baseName = job.sourceURL.stem().string();
  tools::WorkDirectoryGuard cleanup(
      run.workDirectory, [&run] { return run.succeeded; }, [this] { return isCancelled(); }, verboseSink);
  setWorkDirectory(run.workDirectory);
  struct ForgetWorkDirectory {
    PipelineEngine &engine;
    ~ForgetWorkDirectory() { engine.setWorkDirectory({}); }
  } forget{*this};
  return route(run);
}

} // namespace kestrova::pipeline
