#include "app/ConverterModel.h"
#include "cli/CommandLine.h"

#include "analysis/FFProbe.h"
#include "app/BatchGate.h"
#include "app/EngineRunner.h"
#include "app/Uuid.h"
#include "core/ConsoleLine.h"
#include "pipeline/DiscSource.h"

#include <algorithm>

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
  if (env_.desktopDirectory)
    setOutputDirectory(*env_.desktopDirectory / "Kestrova Output");
  env_.engine->onLog = mainThreadLog();
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
  assign(outputDirectory_, std::move(directory), ModelField::outputDirectory);
  if (isInitialized_ && outputDirectory_)
    env_.settings->set(SettingsStore::kOutputDirectory, outputDirectory_->string());
}

void ConverterModel::setQualityPreset(QualityPreset preset) {
  assign(qualityPreset_, preset, ModelField::qualityPreset);
  env_.settings->set(SettingsStore::kQualityPreset, std::string(rawValue(preset)));
  resetCompletedState();
}

void ConverterModel::setOutputCodec(OutputCodec codec) {
  assign(outputCodec_, codec, ModelField::outputCodec);
  env_.settings->set(SettingsStore::kOutputCodec, std::string(rawValue(codec)));
  resetCompletedState();
}

void ConverterModel::setOutputTarget(OutputTarget target) {
  assign(outputTarget_, target, ModelField::outputTarget);
  env_.settings->set(SettingsStore::kOutputTarget, std::string(rawValue(target)));
  resetCompletedState();
}

void ConverterModel::setDebugLimitSeconds(std::int64_t seconds) {
  assign(debugLimitSeconds_, seconds, ModelField::debugLimitSeconds);
  env_.settings->set(SettingsStore::kDurationLimit, seconds);
  resetCompletedState();
}

void ConverterModel::setKeepSBSIntermediate(bool keep) {
  assign(keepSBSIntermediate_, keep, ModelField::keepSBSIntermediate);
  env_.settings->set(SettingsStore::kKeepSBSIntermediate, keep);
}

void ConverterModel::resetCompletedState() {
  if (currentStage_ != ConversionStage::complete)
    return;
  assign(currentStage_, ConversionStage::idle, ModelField::currentStage);
  assign(progress_, 0.0, ModelField::progress);
}

std::optional<std::int64_t> ConverterModel::durationLimit() const {
  if (debugLimitSeconds_ >= 1)
    return debugLimitSeconds_;
  return std::nullopt;
}

std::optional<std::string> ConverterModel::conversionTimeSummary() const {
  if (!conversionStartTime_ || !conversionEndTime_)
    return std::nullopt;
  return app::conversionTimeSummary(*conversionStartTime_, *conversionEndTime_);
}

// Log, notifications, reveal, hand-off ------------------------------------

void ConverterModel::appendLog(const std::string &message) {
  logs_.push_back("[" + mediumTimeText(now()) + "] " + message);
  if (logs_.size() > kMaxLogLines)
    logs_.erase(logs_.begin(), logs_.begin() + static_cast<std::ptrdiff_t>(logs_.size() - kMaxLogLines));
  changed(ModelField::logs);
}

void ConverterModel::postNotification(const std::string &body) {
  if (env_.notifier)
    env_.notifier->post(Notification{newUuidText(), "Kestrova", body});
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
  return fileQueue_.size() >= 2 || !sourceInfo_ || sourceInfo_->hasMVCStream;
}

void ConverterModel::handleCommandLineArguments() {
  if (cliArgsHandled_)
    return;
  const auto &args = env_.arguments;
  std::vector<std::string> inputs = cli::windowInputs(args);
  if (inputs.empty())
    return;
  cliArgsHandled_ = true;
  addFiles(std::vector<fs::path>(inputs.begin(), inputs.end()));
  auto output = std::find(args.begin(), args.end(), "--output");
  if (output != args.end() && std::next(output) != args.end())
    setOutputDirectory(fs::path(*std::next(output)));
  else
    setOutputDirectory(env_.homeDirectory / "Desktop" / "Kestrova Output");
}

} // namespace kestrova::app
