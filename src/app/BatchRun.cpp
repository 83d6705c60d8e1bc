// The batch run: a worker thread walks the run list and hands every model
// change to the main thread, waiting for each so that observers see them in
// the run's order. The worker never holds the model; it reaches it weakly
// through the executor.
#include "app/BatchGate.h"
#include "app/ConverterModel.h"

#include <condition_variable>
#include <fmt/format.h>

namespace kestrova::app {

namespace fs = std::filesystem;

namespace {

// How long a batch waits for one file's analysis before skipping it.
constexpr auto kParseTimeout = std::chrono::seconds(60);

} // namespace

/// What the worker needs to convert one file, taken on the main thread.
struct FilePlan {
  ConversionJob job;
  std::optional<SourceFileInfo> sourceInfo;
  TimePoint fileStart;
  bool useCache = false;
};

class BatchRunner {
public:
  BatchRunner(std::weak_ptr<ConverterModel> model, std::shared_ptr<MainThreadExecutor> executor,
              ConversionRunner runner, std::shared_ptr<pipeline::PipelineEngine> engine,
              std::shared_ptr<BatchGate> gate, std::shared_ptr<std::atomic<bool>> cancelled,
              std::vector<fs::path> runList, bool batch, fs::path outputDirectory)
      : model_(std::move(model)), executor_(std::move(executor)), runner_(std::move(runner)),
        engine_(std::move(engine)), gate_(std::move(gate)), cancelled_(std::move(cancelled)),
        runList_(std::move(runList)), batch_(batch), outputDirectory_(std::move(outputDirectory)) {}

  void run(std::stop_token stop) {
    stop_ = stop;
    try {
      std::optional<std::string> failure = convertAll();
      bool cancelled = isCancelled();
      if (failure)
        onMain([description = *failure, cancelled](ConverterModel &m) { m.failRun(description, cancelled); });
      else
        onMain([cancelled, n = runList_.size()](ConverterModel &m) { m.finishRun(cancelled, n); });
    } catch (const StopRun &) {
      // The model is gone or is going: nobody is left to tell.
    }
  }

private:
  // Thrown when the model is gone or the worker is told to stop: nothing is
  // left to report to.
  struct StopRun {};

  bool isCancelled() const { return engine_->isCancelled() || cancelled_->load(); }

  /// Runs `work` on the main thread with the model and waits for it; throws
  /// StopRun when the model is gone or the worker must stop.
  template <class Work> auto onMain(Work work) -> decltype(work(std::declval<ConverterModel &>())) {
    using Result = decltype(work(std::declval<ConverterModel &>()));
    struct State {
      std::mutex mutex;
      std::condition_variable_any done;
      bool finished = false;
      bool modelGone = false;
      std::optional<std::conditional_t<std::is_void_v<Result>, bool, Result>> value;
    };
    auto state = std::make_shared<State>();
    executor_->post([state, weak = model_, work = std::move(work)]() mutable {
      auto model = weak.lock();
      {
        std::lock_guard lock(state->mutex);
        if (!model) {
          state->modelGone = true;
        } else if constexpr (std::is_void_v<Result>) {
          work(*model);
          state->value = true;
        } else {
          state->value = work(*model);
        }
        state->finished = true;
      }
      state->done.notify_all();
    });
    std::unique_lock lock(state->mutex);
    if (!state->done.wait(lock, stop_, [&] { return state->finished; }) || state->modelGone)
      throw StopRun{};
    if constexpr (!std::is_void_v<Result>)
      return std::move(*state->value);
  }

  /// Converts the run list; returns the error description that ended it.
  std::optional<std::string> convertAll() {
    try {
      fs::create_directories(outputDirectory_);
      for (std::size_t i = 0; i < runList_.size() && !isCancelled(); ++i)
        convertOne(i);
    } catch (const StopRun &) {
      throw;
    } catch (const std::exception &error) {
      return std::string(error.what());
    }
    return std::nullopt;
  }

  void convertOne(std::size_t i) {
    const fs::path &file = runList_[i];
    std::string name = file.filename().string();
    onMain([i](ConverterModel &m) { m.beginFile(static_cast<std::int64_t>(i)); });
    if (batch_) {
      onMain([file](ConverterModel &m) { m.selectFile(file); });
      if (!gate_->waitUntilParsed(stop_, kParseTimeout)) {
        if (stop_.stop_requested())
          throw StopRun{};
        onMain([name](ConverterModel &m) {
          m.appendLog("WARNING: Parsing timed out for " + name + " after 60s, skipping");
        });
        return;
      }
      bool has3D = onMain([](ConverterModel &m) { return m.sourceInfo() && m.sourceInfo()->hasMVCStream; });
      if (!has3D) {
        onMain([name](ConverterModel &m) { m.appendLog("WARNING: No 3D stream in " + name + ", skipping"); });
        return;
      }
    }
    std::string startLine =
        batch_ ? fmt::format("=== Converting {} of {}: {} ===", i + 1, runList_.size(), name)
               : fmt::format("=== Starting conversion pipeline (Build {}) ===", pipeline::PipelineEngine::kBuildNumber);
    onMain([startLine](ConverterModel &m) { m.appendLog(startLine); });

    FilePlan plan = onMain([file, outputDirectory = outputDirectory_](ConverterModel &m) {
      FilePlan p;
      p.job =
          ConversionJob{file, outputDirectory, m.qualityPreset(), m.outputCodec(), m.outputTarget(), m.durationLimit()};
      // Only what the user agreed to before the run may be replaced.
      p.job.replaceExisting = m.replacingExisting();
      p.job.keepSideBySide = m.keepSBSIntermediate();
      p.sourceInfo = m.sourceInfo();
      p.fileStart = m.now();
      p.useCache = m.cacheApplies(file);
      if (p.useCache) {
        m.appendLog("\u2705 Reusing cached SBS: " + m.cachedSBS()->sbsURL.filename().string());
        p.job.sourceURL = m.cachedSBS()->sbsURL;
        p.job.durationLimit.reset();
      }
      return p;
    });

    ConversionResult result =
        plan.useCache ? runner_.convertCachedSbs(plan.job, file.stem().string(), plan.sourceInfo,
                                                 progressHandler(plan.fileStart), logFunction())
                      : runner_.convert(plan.job, plan.sourceInfo, progressHandler(plan.fileStart), logFunction());
    if (!plan.useCache)
      onMain([file, result](ConverterModel &m) { m.handleFreshResult(file, result); });
    onMain([result](ConverterModel &m) { m.recordOutput(result); });
  }

  pipeline::ProgressHandler progressHandler(TimePoint fileStart) const {
    return [weak = model_, executor = executor_, fileStart](ConversionStage stage, double fraction) {
      executor->post([weak, stage, fraction, fileStart] {
        auto model = weak.lock();
        // Reports still queued after a cancel must not bring the stage back.
        if (model && model->isConverting())
          model->reportProgress(stage, fraction, fileStart);
      });
    };
  }

  LogFn logFunction() const {
    return [weak = model_, executor = executor_](const std::string &line) {
      executor->post([weak, line] {
        if (auto model = weak.lock())
          model->appendLog(line);
      });
    };
  }

  std::weak_ptr<ConverterModel> model_;
  std::shared_ptr<MainThreadExecutor> executor_;
  ConversionRunner runner_;
  std::shared_ptr<pipeline::PipelineEngine> engine_;
  std::shared_ptr<BatchGate> gate_;
  std::shared_ptr<std::atomic<bool>> cancelled_;
  std::vector<fs::path> runList_;
  bool batch_;
  fs::path outputDirectory_;
  std::stop_token stop_;
};

void ConverterModel::startConversion() {
  if (!outputDirectory_) {
    assign(errorMessage_, std::optional<std::string>("No output directory selected"), ModelField::errorMessage);
    return;
  }
  if (isConverting_)
    return;
  std::vector<fs::path> runList;
  if (fileQueue_.size() >= 2) {
    runList = fileQueue_;
    assign(isBatchMode_, true, ModelField::isBatchMode);
  } else if (!sourceFileURL_) {
    assign(errorMessage_, std::optional<std::string>("No source file selected"), ModelField::errorMessage);
    return;
  } else {
    runList = {*sourceFileURL_};
    assign(isBatchMode_, false, ModelField::isBatchMode);
  }
  if (!mayReplaceOutputs(runList))
    return;
  assign(isConverting_, true, ModelField::isConverting);
  assign(batchCompletedCount_, std::int64_t{0}, ModelField::batchCompletedCount);
  assign(currentQueueIndex_, std::int64_t{0}, ModelField::currentQueueIndex);
  assign(batchOutputURLs_, std::vector<fs::path>(), ModelField::batchOutputURLs);
  convertedSources_.clear();
  assign(conversionStartTime_, std::optional<TimePoint>(now()), ModelField::conversionStartTime);
  assign(conversionEndTime_, std::optional<TimePoint>(), ModelField::conversionEndTime);
  env_.engine->beginRun();
  runCancelled_ = std::make_shared<std::atomic<bool>>(false);

  // Replacing the handle joins an earlier worker that is still winding down
  // after a cancel; the engine runs one conversion at a time.
  auto runner = std::make_shared<BatchRunner>(weak_from_this(), env_.executor, env_.runner, env_.engine, gate_,
                                              runCancelled_, std::move(runList), isBatchMode_, *outputDirectory_);
  conversionTask_ = std::jthread([runner](std::stop_token stop) { runner->run(stop); });
}

bool ConverterModel::mayReplaceOutputs(const std::vector<fs::path> &runList) {
  replaceExisting_ = false;
  std::vector<fs::path> existing;
  for (const auto &file : runList) {
    ConversionJob job{file, *outputDirectory_, qualityPreset_, outputCodec_, outputTarget_, durationLimit()};
    job.keepSideBySide = keepSBSIntermediate_;
    auto info = fileInfoMap_.find(file);
    std::optional<SourceFileInfo> sourceInfo;
    if (info != fileInfoMap_.end())
      sourceInfo = info->second;
    // A run that starts from the kept SBS file writes what a side-by-side
    // source writes, under the disc's name.
    if (cacheApplies(file) && sourceInfo)
      sourceInfo->stereoMode = Stereo3DMode::sideBySide();
    auto found = env_.outputConflicts(job, sourceInfo);
    existing.insert(existing.end(), found.begin(), found.end());
  }
  if (existing.empty())
    return true;
  if (env_.dialogs && env_.dialogs->confirmReplace(existing)) {
    replaceExisting_ = true;
    appendLog(fmt::format("Replacing {} existing file(s) in {}", existing.size(), outputDirectory_->string()));
    return true;
  }
  appendLog("Not converted: " + existing.front().filename().string() + " exists and was kept");
  return false;
}

void ConverterModel::cancelConversion() {
  env_.engine->cancel();
  runCancelled_->store(true);
  assign(isConverting_, false, ModelField::isConverting);
  assign(currentStage_, ConversionStage::idle, ModelField::currentStage);
  assign(progress_, 0.0, ModelField::progress);
  assign(estimatedTimeRemaining_, std::optional<std::string>(), ModelField::estimatedTimeRemaining);
  appendLog("Conversion cancelled by user");
}

void ConverterModel::applicationWillTerminate() {
  cancelConversion();
}

void ConverterModel::beginFile(std::int64_t index) {
  assign(currentQueueIndex_, index, ModelField::currentQueueIndex);
  assign(currentStage_, ConversionStage::demuxing, ModelField::currentStage);
  assign(progress_, 0.0, ModelField::progress);
  assign(estimatedTimeRemaining_, std::optional<std::string>(), ModelField::estimatedTimeRemaining);
  eta_ = EtaState{};
  fileProgress_.reset();
  assign(errorMessage_, std::optional<std::string>(), ModelField::errorMessage);
}

void ConverterModel::recordOutput(const ConversionResult &result) {
  if (auto index = static_cast<std::size_t>(currentQueueIndex_); isBatchMode_ && index < fileQueue_.size())
    convertedSources_.push_back(fileQueue_[index]);
  else if (sourceFileURL_)
    convertedSources_.push_back(*sourceFileURL_);
  fs::path output(result.outputPath);
  assign(lastOutputURL_, std::optional<fs::path>(output), ModelField::lastOutputURL);
  batchOutputURLs_.push_back(output);
  changed(ModelField::batchOutputURLs);
  assign(batchCompletedCount_, batchCompletedCount_ + 1, ModelField::batchCompletedCount);
}

void ConverterModel::reportProgress(ConversionStage stage, double fraction, TimePoint fileStart) {
  assign(currentStage_, stage, ModelField::currentStage);
  double shown = fileProgress_.shown(fraction);
  assign(progress_, shown, ModelField::progress);
  EtaUpdate update = updateEta(eta_, fileStart, shown, now());
  if (update.kind == EtaUpdate::Kind::clear)
    assign(estimatedTimeRemaining_, std::optional<std::string>(), ModelField::estimatedTimeRemaining);
  else if (update.kind == EtaUpdate::Kind::set)
    assign(estimatedTimeRemaining_, std::optional<std::string>(update.text), ModelField::estimatedTimeRemaining);
}

void ConverterModel::finishRun(bool cancelled, std::size_t fileCount) {
  if (cancelled) {
    appendLog("Conversion cancelled");
    assign(isConverting_, false, ModelField::isConverting);
    return;
  }
  assign(currentStage_, ConversionStage::complete, ModelField::currentStage);
  assign(progress_, 1.0, ModelField::progress);
  assign(conversionEndTime_, std::optional<TimePoint>(now()), ModelField::conversionEndTime);
  assign(estimatedTimeRemaining_, std::optional<std::string>(), ModelField::estimatedTimeRemaining);
  if (!isBatchMode_) {
    appendLog("=== Conversion complete! ===");
    if (lastOutputURL_) {
      appendLog("Output: " + lastOutputURL_->string());
      postNotification("Conversion complete: " + lastOutputURL_->filename().string());
    }
  } else {
    appendLog(fmt::format("=== Batch complete: {} of {} files converted ===", batchCompletedCount_, fileCount));
    postNotification(fmt::format("Batch complete: {} files converted", batchCompletedCount_));
  }
  assign(isConverting_, false, ModelField::isConverting);
}

void ConverterModel::failRun(const std::string &description, bool cancelled) {
  if (cancelled) {
    appendLog("Conversion cancelled");
    assign(isConverting_, false, ModelField::isConverting);
    return;
  }
  assign(currentStage_, ConversionStage::failed, ModelField::currentStage);
  assign(errorMessage_, std::optional<std::string>(description), ModelField::errorMessage);
  appendLog("ERROR: " + description);
  postNotification("Conversion failed: " + description);
  assign(isConverting_, false, ModelField::isConverting);
}

} // namespace kestrova::app
