// The conversion operation of PipelineEngine: source parameters, work
// directory and routing to the pipeline that fits the source's 3D layout.
#include "core/ConsoleLine.h"
#include "core/Errors.h"
#include "pipeline/ChunkedEncode.h"
#include "pipeline/DiscSource.h"
#include "pipeline/FinishedPictures.h"
#include "pipeline/FrameAlternatePipeline.h"
#include "pipeline/LayoutRequest.h"
#include "pipeline/MvcPipeline.h"
#include "pipeline/OutputPlan.h"
#include "pipeline/PictureChunks.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/PipelineRun.h"
#include "pipeline/RoadPlan.h"
#include "pipeline/RunScope.h"
#include "pipeline/SideBySidePipeline.h"
#include "pipeline/SourceAnalysis.h"
#include "pipeline/SubtitlePreparation.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fmt/format.h>
#include <memory>
#include <mutex>

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

// A disc's name as a file name: no folder separators, no leading dot.
std::string safeFileName(std::string name) {
  for (auto &c : name)
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20)
      c = '_';
  while (!name.empty() && (name.front() == '.' || name.front() == ' '))
    name.erase(0, 1);
  return name.empty() ? std::string("Blu-ray disc") : name;
}

/// Runs the planned road. Only the plan decides which.
ConversionResult runRoad(PipelineRun &run, const ToolInventory &tools, const SourceFacts &facts, const RoadPlan &plan) {
  struct Dispatch {
    PipelineRun &run;
    const ToolInventory &tools;
    const SourceFacts &facts;
    const RoadPlan &plan;
    ConversionResult operator()(const NoRoad &road) const { throw ConversionError::toolNotFound(road.message); }
    ConversionResult operator()(const MvcDirectRoad &) const { return runMvcPipeline(run, tools, facts, plan); }
    ConversionResult operator()(const MvcSideBySideRoad &) const { return runMvcPipeline(run, tools, facts, plan); }
    ConversionResult operator()(const MvcChunkedSideBySideRoad &) const {
      return runMvcPipeline(run, tools, facts, plan);
    }
    ConversionResult operator()(const FrameAlternateRoad &road) const {
      noteSubtitlesNotBurned(run);
      return road.chunked ? runChunkedPictures(run) : runFrameAlternatePipeline(run, road.rightFirst);
    }
    ConversionResult operator()(const PackedRoad &road) const {
      noteSubtitlesNotBurned(run);
      return road.chunked ? runChunkedPictures(run) : runSideBySidePipeline(run);
    }
  };
  return std::visit(Dispatch{run, tools, facts, plan}, plan.road);
}

/// Runs the planned road, then checks what it wrote: results, not exit
/// codes, decide whether the outputs get their names.
ConversionResult runCheckedRoad(PipelineRun &run, const ToolInventory &tools, const SourceFacts &facts,
                                const RoadPlan &plan) {
  ConversionResult result = runRoad(run, tools, facts, plan);
  checkFinishedPictures(run);
  // A copy holds what the source holds and says what it says.
  if (!(std::holds_alternative<PackedRoad>(plan.road) && copiesSource(run)))
    checkFinishedLength(run);
  return result;
}

constexpr const char *kFfmpegAdvice =
    "ffprobe not found: install Debian's ffmpeg package (apt-get install ffmpeg) or put ffprobe into the tools folder";

// Linux refuses paths past PATH_MAX bytes and names past NAME_MAX; found
// before any work, and named as such rather than as the error some tool
// makes of it.
void checkPathLengths(const PipelineRun &run) {
  constexpr std::size_t kPathMax = 4095;
  constexpr std::size_t kNameMax = 255;
  for (const auto &output : run.outputs.files())
    if (output.filename().string().size() > kNameMax)
      throw Error(fmt::format("the output's name {} is too long for the file system ({} bytes, at most {}); "
                              "nothing was converted. Rename the source to a shorter name",
                              output.filename().string(), output.filename().string().size(), kNameMax));
  // The deepest path a run makes: a view tsMuxeR writes into the work folder.
  const std::size_t deepest = run.job.outputDirectory.string().size() + std::string("/Kestrova_00000000/").size() +
                              run.baseName.size() + std::string(".track_4113.264.tmp-0000000").size();
  if (deepest > kPathMax)
    throw Error(fmt::format(
        "the output folder's path is too long for the file system ({} bytes where the run's "
        "files need at most {}); nothing was converted. Choose an output folder with a shorter path",
        run.job.outputDirectory.string().size(), kPathMax - (deepest - run.job.outputDirectory.string().size())));
}

} // namespace

std::optional<std::string> ConsoleProgress::line(ConversionStage stage, double fraction) {
  double percent = std::trunc(fraction * 100.0);
  // Beyond this the value has no 64-bit integer percentage; print nothing.
  if (!std::isfinite(percent) || std::fabs(percent) >= 9.2e18)
    return std::nullopt;
  const auto whole = static_cast<std::int64_t>(percent);
  if (stage_ == stage && whole / 5 == step_)
    return std::nullopt;
  stage_ = stage;
  step_ = whole / 5;
  return fmt::format("[{}] {}%", rawValue(stage), whole);
}

ConversionResult PipelineEngine::convert(const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo,
                                         LogFn driverLog) {
  // The same value the window shows, one line per step of five percent.
  auto console = std::make_shared<std::pair<std::mutex, ConsoleProgress>>();
  return run(
      job, sourceInfo,
      [console](ConversionStage stage, double fraction) {
        std::lock_guard lock(console->first);
        if (auto line = console->second.line(stage, fraction))
          printConsoleLine(*line);
      },
      driverLog);
}

ConversionResult PipelineEngine::convert(const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo,
                                         ProgressHandler progressHandler, LogFn driverLog) {
  return run(job, sourceInfo, std::move(progressHandler), driverLog);
}

std::optional<SourceFileInfo> PipelineEngine::readSourceInfo(const ConversionJob &job, const DiscSource *disc,
                                                             const std::optional<SourceFileInfo> &given,
                                                             const LogFn &say) const {
  if (disc)
    return discSourceInfo(disc->title, job.sourceURL);
  if (given)
    return given;
  say(fmt::format("[Kestrova Build {}] Starting conversion...", kBuildNumber));
  say("Analyzing source file...");
  try {
    return analyzer_ ? analyzer_(job.sourceURL) : analyzeSource(locator_, job.sourceURL);
  } catch (const AnalysisError &error) {
    say(std::string("FFProbe analysis failed: ") + error.what());
    throw ConversionError::toolNotFound(kFfmpegAdvice);
  }
}

namespace {

// The run's picture facts, from what was read of the source; without a
// reading, a Blu-ray film's.
void takeSourceFacts(PipelineRun &run, const std::optional<SourceFileInfo> &info) {
  run.width = info ? info->videoWidth : 1920;
  run.height = info ? info->videoHeight : 1080;
  run.frameRateNum = info ? info->frameRateNum : 24000;
  run.frameRateDen = info ? info->frameRateDen : 1001;
  run.duration = info ? info->duration : 0.0;
}

/// Decides the road from the tools present and what is known of the source
/// (chunks wanted, a subtitle track to burn in, chosen here); a missing tool,
/// or a chunking request no road can keep, is refused before any work.
std::pair<RoadPlan, SourceFacts> planRunRoad(PipelineRun &run, const ToolInventory &tools, bool mvc) {
  SourceFacts facts{run.stereoMode, std::nullopt, std::nullopt};
  const double seconds = run.job.durationLimit ? static_cast<double>(*run.job.durationLimit) : run.duration;
  facts.chunksWanted = prefersChunkedEncode(seconds > 0 ? seconds : 7200.0, run.job.chunking);
  // Only an MVC source's subtitles are burned in; which track, before the road.
  if (mvc)
    run.subtitleChoice = chooseRunSubtitles(run);
  facts.burnIn = run.subtitleChoice.track.has_value();
  RoadPlan plan = planRoad(tools, facts, run.outputs);
  if (const auto *none = std::get_if<NoRoad>(&plan.road))
    throw ConversionError::toolNotFound(none->message);
  // Only a chunked road has pieces to hand to another scheduler or machine:
  // anything else would quietly convert the film here.
  if (const auto refusal = chunkingRefusal(plan, run.job.chunking))
    throw ConversionError::encodingFailed(*refusal);
  return {std::move(plan), facts};
}

/// Clips copied out of a disc image into `folder`, removed at the end
/// whatever else of the run is kept.
struct DiscCopies {
  fs::path folder;
  ~DiscCopies() {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
};

/// The disc title's playlist for the run's tools, its clips copied out of an
/// image into the work folder; a full disk is named.
void prepareDisc(PipelineRun &run, const DiscSource &disc) {
  try {
    const LogFn logSink = [&run](const std::string &line) { run.engine.log(line); };
    run.discPlaylist = prepareDiscPlaylist(disc, run.workDirectory, logSink);
  } catch (const fs::filesystem_error &error) {
    throwIfOutOfSpace(error, run.job.outputDirectory);
    throw;
  }
}

} // namespace

ConversionResult PipelineEngine::run(const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo,
                                     std::function<void(ConversionStage, double)> progress, const LogFn &driverLog) {
  const LogFn say = [&driverLog](const std::string &line) {
    if (driverLog)
      driverLog(line);
  };
  // A cancel since the caller's beginRun() holds, analysis included.
  armRun();
  checkSourceFile(job.sourceURL);
  // A disc is read and its title decided before any work.
  std::optional<DiscSource> disc = openDiscSource(job, say);
  const std::optional<SourceFileInfo> info = readSourceInfo(job, disc ? &*disc : nullptr, sourceInfo, say);
  // The layout the user gave stands in for the detected one, before the
  // check that the source has any.
  const Stereo3DMode stereoMode = layoutForJob(job, info ? info->stereoMode : defaultStereoMode(job.sourceURL));
  if (info) {
    SourceFileInfo asRead = *info;
    asRead.stereoMode = stereoMode;
    checkConvertibleSource(job.sourceURL, asRead);
  }
  if (isCancelled())
    throw ConversionError::cancelled();

  // Tools run inside the work directory, so every path handed to them is absolute.
  ConversionJob absoluteJob = job;
  absoluteJob.sourceURL = fs::absolute(job.sourceURL);
  absoluteJob.outputDirectory = fs::absolute(job.outputDirectory);
  PipelineRun run(*this, std::move(absoluteJob));
  run.stereoMode = stereoMode;
  takeSourceFacts(run, info);
  run.progress = std::move(progress);
  // Before any work: a user's file is never replaced unless they said so.
  run.baseName = disc ? safeFileName(disc->title.name) : job.sourceURL.stem().string();
  run.outputs = planOutputs(job, run.stereoMode, disc ? std::optional(run.baseName) : std::nullopt);
  checkOutputs(job, run.outputs);

  // The decoder's view order, which only the MVC roads have.
  const bool mvc = run.stereoMode.kind() == Stereo3DMode::Kind::mvcSingleTrack ||
                   run.stereoMode.kind() == Stereo3DMode::Kind::mvcSeparateTracks;
  const bool rightFirst = mvc && firstViewIsRight(run.stereoMode, disc && disc->title.playlist.baseViewIsRight);
  say(fmt::format("Source: {}x{}, {}/{} fps, stereo: {}, rightFirst: {}", run.width, run.height, run.frameRateNum,
                  run.frameRateDen, run.stereoMode.text(), rightFirst ? "true" : "false"));

  checkPathLengths(run);
  const ToolInventory tools = takeInventory(*this);
  if (disc)
    run.disc = disc->title;
  const auto planned = planRunRoad(run, tools, mvc);
  const RoadPlan &plan = planned.first;
  const SourceFacts &facts = planned.second;

  RunScope scope(run, job.keepWork);
  log(describe(plan));
  const DiscCopies discCopies{run.workDirectory / "disc"};
  if (disc)
    prepareDisc(run, *disc);
  return scope.runAndCommit([&] { return runCheckedRoad(run, tools, facts, plan); });
}

} // namespace kestrova::pipeline
