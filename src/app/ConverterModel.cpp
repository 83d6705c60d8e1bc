#include "app/ConverterModel.h"

#include "analysis/FFProbe.h"
#include "app/BatchGate.h"
#include "app/EngineRunner.h"
#include "app/Uuid.h"
#include "core/ConsoleLine.h"
#include "core/Log.h"
#include "pipeline/DiscSource.h"

#include <algorithm>
#include <fmt/format.h>

namespace kestrova::app {

namespace fs = std::filesystem;

std::shared_ptr<ConverterModel> ConverterModel::create(ModelEnvironment environment) {
  // The constructor is private so that every model lives in a shared_ptr:
  // callbacks from other threads hold it weakly.
  std::shared_ptr<ConverterModel> model(new ConverterModel(std::move(environment)));
  model->construct();
  return model;
}

ConverterModel::ConverterModel(ModelEnvironment environment)
    : env_(std::move(environment)), gate_(std::make_shared<BatchGate>()) {
  if (!env_.engine)
    env_.engine = std::make_shared<pipeline::PipelineEngine>();
  if (!env_.clock)
    env_.clock = std::make_shared<SystemClock>();
  ConversionRunner defaults = engineConversionRunner(env_.engine);
  if (!env_.runner.convert)
    env_.runner.convert = std::move(defaults.convert);
  if (!env_.runner.convertCachedSbs)
    env_.runner.convertCachedSbs = std::move(defaults.convertCachedSbs);
  if (!env_.outputConflicts)
    env_.outputConflicts = existingOutputs;
  if (!env_.analyzer) {
    env_.analyzer = [locator = env_.engine->locator()](const fs::path &source, const LogFn &onLog) {
      // A disc shows as one entry: its name and its film's length.
      if (auto disc = pipeline::analyzeDiscSource(source))
        return disc;
      return analysis::FFProbe(locator, onLog).analyze(source);
    };
  }
}

void ConverterModel::construct() {
  if (env_.videosDirectory)
    setOutputDirectory(*env_.videosDirectory / "Kestrova Output");
  env_.engine->onLog = mainThreadLog();
  env_.engine->onResume = [weak = weak_from_this(), executor = env_.executor](pipeline::ResumedChunks resumed) {
    executor->post([weak, resumed] {
      if (auto model = weak.lock())
        model->noteResume(resumed);
    });
  };
  // Termination is delivered by the shell through applicationWillTerminate().
}

ConverterModel::~ConverterModel() {
  // No external tool may outlive the model: stop the engine first, then wait
  // for the worker and the analyses (none of them holds the model).
  env_.engine->cancel();
  conversionTask_.request_stop();
  if (conversionTask_.joinable())
    conversionTask_.join();
  tasks_.clear();
  env_.engine->waitForCancellation();
}

int ConverterModel::subscribe(Observer observer) {
  observers_.emplace_back(nextObserverId_, std::move(observer));
  return nextObserverId_++;
}

void ConverterModel::unsubscribe(int id) {
  std::erase_if(observers_, [id](const auto &entry) { return entry.first == id; });
}

void ConverterModel::changed(ModelField field) {
  // A copy: an observer may subscribe or unsubscribe while being told.
  auto observers = observers_;
  for (const auto &[id, observer] : observers)
    observer(field);
}

LogFn ConverterModel::mainThreadLog() {
  return [weak = weak_from_this(), executor = env_.executor](const std::string &line) {
    executor->post([weak, line] {
      if (auto model = weak.lock())
        model->appendLog(line);
    });
  };
}

// Settings -----------------------------------------------------------------

void ConverterModel::setOutputDirectory(std::optional<fs::path> directory) {
  if (isConverting_)
    return;
  assign(outputDirectory_, std::move(directory), ModelField::outputDirectory);
  if (isInitialized_ && outputDirectory_)
    env_.settings->set(SettingsStore::kOutputDirectory, outputDirectory_->string());
}

void ConverterModel::setQualityPreset(QualityPreset preset) {
  if (isConverting_)
    return;
  assign(qualityPreset_, preset, ModelField::qualityPreset);
  env_.settings->set(SettingsStore::kQualityPreset, std::string(rawValue(preset)));
  resetCompletedState();
}

void ConverterModel::setOutputCodec(OutputCodec codec) {
  if (isConverting_)
    return;
  assign(outputCodec_, codec, ModelField::outputCodec);
  env_.settings->set(SettingsStore::kOutputCodec, std::string(rawValue(codec)));
  resetCompletedState();
}

void ConverterModel::setOutputTarget(OutputTarget target) {
  if (isConverting_)
    return;
  assign(outputTarget_, target, ModelField::outputTarget);
  env_.settings->set(SettingsStore::kOutputTarget, std::string(rawValue(target)));
  resetCompletedState();
}

void ConverterModel::setDebugLimitSeconds(std::int64_t seconds) {
  if (isConverting_)
    return;
  assign(debugLimitSeconds_, seconds, ModelField::debugLimitSeconds);
  env_.settings->set(SettingsStore::kDurationLimit, seconds);
  resetCompletedState();
}

void ConverterModel::setKeepSBSIntermediate(bool keep) {
  if (isConverting_)
    return;
  assign(keepSBSIntermediate_, keep, ModelField::keepSBSIntermediate);
  env_.settings->set(SettingsStore::kKeepSBSIntermediate, keep);
}

void ConverterModel::setSubtitleTrack(int track) {
  if (isConverting_ || !sourceFileURL_)
    return;
  subtitleTracks_[*sourceFileURL_] = track;
  changed(ModelField::subtitleTrack);
}

int ConverterModel::subtitleTrack() const {
  return sourceFileURL_ ? subtitleTrackOf(*sourceFileURL_) : 0;
}

int ConverterModel::subtitleTrackOf(const fs::path &file) const {
  if (const auto chosen = subtitleTracks_.find(file); chosen != subtitleTracks_.end())
    return chosen->second;
  const auto info = fileInfoMap_.find(file);
  if (info == fileInfoMap_.end())
    return 0;
  const auto &forced = info->second.subtitleForced;
  const auto first = std::find(forced.begin(), forced.end(), true);
  return first == forced.end() ? 0 : static_cast<int>(first - forced.begin()) + 1;
}

void ConverterModel::setChunkJobs(int jobs) {
  if (isConverting_)
    return;
  assign(chunking_.jobs, std::max(jobs, 0), ModelField::chunkJobs);
  if (chunking_.jobs > 0)
    env_.settings->set(SettingsStore::kJobs, chunking_.jobs);
  else
    env_.settings->remove(SettingsStore::kJobs);
}

std::optional<fs::path> ConverterModel::hostsFile() const {
  if (chunking_.hosts.empty())
    return std::nullopt;
  return chunking_.hosts;
}

void ConverterModel::setHostsFile(std::optional<fs::path> file) {
  if (isConverting_)
    return;
  assign(chunking_.hosts, file.value_or(fs::path()), ModelField::hostsFile);
  if (file)
    env_.settings->set(SettingsStore::kHosts, file->string());
  else
    env_.settings->remove(SettingsStore::kHosts);
}

void ConverterModel::setRemoteOnly(bool remoteOnly) {
  if (isConverting_)
    return;
  assign(chunking_.remoteOnly, remoteOnly, ModelField::remoteOnly);
  if (remoteOnly)
    env_.settings->set(SettingsStore::kRemoteOnly, true);
  else
    env_.settings->remove(SettingsStore::kRemoteOnly);
}

void ConverterModel::chooseHostsFile() {
  if (isConverting_ || !env_.dialogs)
    return;
  OpenFilesRequest request{"Select the Hosts File (GNU parallel ssh logins)", {}, false, std::nullopt};
  if (const auto current = hostsFile())
    request.startDirectory = current->parent_path();
  const auto chosen = env_.dialogs->openFiles(request);
  if (!chosen.empty())
    setHostsFile(chosen.front());
}

void ConverterModel::noteResume(pipeline::ResumedChunks resumed) {
  if (!isConverting_)
    return;
  // The progress jumps to the finished chunks: the remaining time is
  // measured from here on, not over the jump.
  eta_ = EtaState{};
  assign(resumedChunks_, std::optional(resumed), ModelField::resumedChunks);
}

void ConverterModel::resetCompletedState() {
  if (currentStage_ != ConversionStage::complete)
    return;
  assign(currentStage_, ConversionStage::idle, ModelField::currentStage);
  assign(progress_, 0.0, ModelField::progress);
}

ConversionJob ConverterModel::jobFor(const fs::path &file, const fs::path &outputDirectory) const {
  ConversionJob job;
  job.sourceURL = file;
  job.outputDirectory = outputDirectory;
  job.qualityPreset = qualityPreset_;
  job.outputCodec = outputCodec_;
  job.outputTarget = outputTarget_;
  job.durationLimit = durationLimit();
  job.keepSideBySide = keepSBSIntermediate_;
  const int subtitles = subtitleTrackOf(file);
  job.subtitles.track = subtitles < 1 ? "none" : std::to_string(subtitles);
  job.subtitles.fixedDepth = subtitleDepth_;
  job.chunking = chunking_;
  const FileLayout given = fileLayout(file);
  job.layout = given.layout;
  job.swapEyes = given.swapEyes;
  return job;
}

std::optional<std::int64_t> ConverterModel::durationLimit() const {
  if (debugLimitSeconds_ >= 1)
    return debugLimitSeconds_;
  return std::nullopt;
}

// Log, notifications, reveal, hand-off ------------------------------------

void ConverterModel::appendLog(const std::string &message) {
  if (isConverting_ && isWarningLine(message))
    runWarnings_.push_back((isBatchMode_ && sourceFileURL_ ? sourceFileURL_->filename().string() + ": " : "") +
                           message.substr(kWarningMark.size()));
  ++loggedLineCount_;
  logs_.push_back("[" + mediumTimeText(now()) + "] " + message);
  if (logs_.size() > kMaxLogLines)
    logs_.erase(logs_.begin(), logs_.begin() + static_cast<std::ptrdiff_t>(logs_.size() - kMaxLogLines));
  changed(ModelField::logs);
}

void ConverterModel::postNotification(const std::string &body, std::vector<fs::path> results) {
  if (env_.notifier)
    env_.notifier->post(Notification{newUuidText(), "Kestrova", body, std::move(results)});
}

void ConverterModel::requestNotificationPermission() {
  if (!env_.notifier)
    return;
  env_.notifier->requestPermission(
      [](const std::string &error) { printPlainLine("Notification permission error: " + error); });
}

void ConverterModel::revealInFinder() {
  if (!env_.revealer)
    return;
  if (batchOutputURLs_.size() < 2) {
    if (lastOutputURL_)
      env_.revealer->reveal({*lastOutputURL_});
    return;
  }
  env_.revealer->reveal(batchOutputURLs_);
}

bool ConverterModel::selectionConvertible() const {
  if (!sourceFileURL_)
    return false;
  return fileQueue_.size() >= 2 || !sourceInfo_ || sourceInfo_->hasMVCStream ||
         (sourceFileURL_ && fileLayout(*sourceFileURL_).layout != StereoLayout::automatic);
}

void ConverterModel::handleCommandLineArguments() {
  if (cliArgsHandled_ || env_.startFiles.empty())
    return;
  cliArgsHandled_ = true;
  openFiles(env_.startFiles, env_.startOutputDirectory);
}

void ConverterModel::openFiles(const std::vector<fs::path> &files, const std::optional<fs::path> &outputDirectory) {
  if (files.empty())
    return;
  addFiles(files);
  if (outputDirectory)
    setOutputDirectory(*outputDirectory);
}

std::string batchCountsText(const BatchCounts &counts) {
  std::string text = fmt::format("{} {} converted", counts.converted, counts.converted == 1 ? "file" : "files");
  if (counts.skipped > 0)
    text += fmt::format(", {} skipped", counts.skipped);
  if (counts.failed > 0)
    text += fmt::format(", {} failed", counts.failed);
  return text;
}

BatchCounts ConverterModel::batchCounts() const {
  BatchCounts counts;
  for (const auto &[file, outcome] : fileOutcomes_) {
    switch (outcome.kind) {
    case FileOutcome::Kind::converted:
      ++counts.converted;
      break;
    case FileOutcome::Kind::skipped:
      ++counts.skipped;
      break;
    case FileOutcome::Kind::failed:
      ++counts.failed;
      break;
    }
  }
  return counts;
}

std::optional<std::string> ConverterModel::rejection(const fs::path &file) const {
  if (auto failure = analysisFailures_.find(file); failure != analysisFailures_.end())
    return failure->second;
  if (auto info = fileInfoMap_.find(file);
      info != fileInfoMap_.end() && !info->second.hasMVCStream && fileLayout(file).layout == StereoLayout::automatic)
    return std::string(kNo3DReason);
  return std::nullopt;
}

std::vector<std::string> ConverterModel::plannedOutputNames(const fs::path &file) const {
  auto info = fileInfoMap_.find(file);
  if (info == fileInfoMap_.end() || rejection(file) || !outputDirectory_)
    return {};
  std::vector<std::string> names;
  for (const auto &output : plannedOutputs(jobFor(file, *outputDirectory_), info->second))
    names.push_back(output.filename().string());
  return names;
}

std::size_t ConverterModel::runFileCount() const {
  return isBatchMode_ ? fileQueue_.size() : 1;
}

double ConverterModel::batchFraction() const {
  const std::size_t count = runFileCount();
  const auto current = static_cast<std::size_t>(std::max<std::int64_t>(currentQueueIndex_, 0));
  const double file = std::clamp(progress_, 0.0, 1.0);
  if (!isBatchMode_ || count == 0)
    return file;
  std::vector<double> weights;
  for (const auto &path : fileQueue_) {
    auto info = fileInfoMap_.find(path);
    if (info == fileInfoMap_.end() || !(info->second.duration > 0))
      break;
    weights.push_back(info->second.duration);
  }
  if (weights.size() != count)
    weights.assign(count, 1.0);
  double done = 0, total = 0;
  for (std::size_t i = 0; i < count; ++i) {
    total += weights[i];
    if (i < current)
      done += weights[i];
    else if (i == current)
      done += weights[i] * file;
  }
  return total > 0 ? std::clamp(done / total, 0.0, 1.0) : 0.0;
}

std::optional<fs::path> ConverterModel::openStartDirectory() const {
  if (lastOpenFolder_)
    return lastOpenFolder_;
  if (auto stored = env_.settings->string(kLastOpenFolder))
    return fs::path(*stored);
  if (sourceFileURL_)
    return sourceFileURL_->parent_path();
  return env_.videosDirectory;
}

} // namespace kestrova::app
