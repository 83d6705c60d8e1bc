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
              std::shared_ptr<BatchGate> gate, std::shared_ptr<std::atomic<bool>> cancelled, fs::path outputDirectory)
      : model_(std::move(model)), executor_(std::move(executor)), runner_(std::move(runner)),
        engine_(std::move(engine)), gate_(std::move(gate)), cancelled_(std::move(cancelled)),
        outputDirectory_(std::move(outputDirectory)) {}

  void run(std::stop_token stop) {
    stop_ = stop;
    try {
      std::optional<std::string> failure = convertAll();
      bool cancelled = isCancelled();
      if (failure)
        onMain([description = *failure, cancelled](ConverterModel &m) { m.failRun(description, cancelled); });
      else
        onMain([cancelled](ConverterModel &m) { m.finishRun(cancelled); });
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

  /// Converts the run's files, those appended while it runs included;
  /// returns the error description that ended it. In a batch a file's
  /// failure is marked on its row and the batch goes on.
  std::optional<std::string> convertAll() {
    try {
      fs::create_directories(outputDirectory_);
      for (std::size_t i = 0; !isCancelled(); ++i) {
        auto next = onMain([i](ConverterModel &m) -> std::optional<NextFile> {
          auto file = m.runFileAt(i);
          if (!file)
            return std::nullopt;
          return NextFile{*file, m.isBatchMode(), m.runFileCount()};
        });
        if (!next)
          break;
        convertOneOf(i, *next);
      }
    } catch (const StopRun &) {
      throw;
    } catch (const std::exception &error) {
      return std::string(error.what());
    }
    return std::nullopt;
  }

  /// The run's next file and how the run stands when it is taken.
  struct NextFile {
    fs::path file;
    bool batch = false;
    std::size_t count = 1;
  };

  void convertOneOf(std::size_t i, const NextFile &next) {
    const fs::path &file = next.file;
    if (!next.batch) {
      convertOne(i, next);
      return;
    }
    try {
      convertOne(i, next);
    } catch (const StopRun &) {
      throw;
    } catch (const std::exception &error) {
      if (isCancelled())
        return;
      onMain([file, reason = std::string(error.what())](ConverterModel &m) {
        m.appendLog("ERROR: " + file.filename().string() + ": " + reason);
        m.recordOutcome(file, FileOutcome{FileOutcome::Kind::failed, reason});
      });
    }
  }

  void skip(const fs::path &file, std::string logLine, std::string reason) {
    onMain([file, logLine = std::move(logLine), reason = std::move(reason)](ConverterModel &m) {
      m.appendLog(logLine);
      m.recordOutcome(file, FileOutcome{FileOutcome::Kind::skipped, reason});
    });
  }

  void convertOne(std::size_t i, const NextFile &next) {
    const fs::path &file = next.file;
    const bool batch = next.batch;
    std::string name = file.filename().string();
    onMain([i](ConverterModel &m) { m.beginFile(static_cast<std::int64_t>(i)); });
    if (batch) {
      onMain([file](ConverterModel &m) { m.selectFile(file); });
      if (!gate_->waitUntilParsed(stop_, kParseTimeout)) {
        if (stop_.stop_requested())
          throw StopRun{};
        skip(file, "WARNING: Parsing timed out for " + name + " after 60s, skipping",
             "Skipped: reading the file took over a minute.");
        return;
      }
      auto rejected = onMain([file](ConverterModel &m) -> std::optional<std::string> {
        if (m.sourceInfo() && m.sourceInfo()->hasMVCStream)
          return std::nullopt;
        if (!m.sourceInfo() || m.fileLayout(file).layout == StereoLayout::automatic)
          return m.rejection(file).value_or(kNo3DReason);
        return m.rejection(file);
      });
      if (rejected) {
        skip(file, "WARNING: No 3D stream in " + name + ", skipping", "Skipped: " + *rejected);
        return;
      }
    }
    std::string startLine =
        batch ? fmt::format("=== Converting {} of {}: {} ===", i + 1, next.count, name)
              : fmt::format("=== Starting conversion pipeline (Build {}) ===", pipeline::PipelineEngine::kBuildNumber);
    onMain([startLine](ConverterModel &m) { m.appendLog(startLine); });

    FilePlan plan = onMain([file, outputDirectory = outputDirectory_](ConverterModel &m) {
      FilePlan p;
      p.job = m.jobFor(file, outputDirectory);
      // Only what the user agreed to before the run may be replaced.
      p.job.replaceExisting = m.replacingExisting();
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
    onMain([file, result](ConverterModel &m) {
      m.recordOutput(result);
      m.recordOutcome(file, FileOutcome{FileOutcome::Kind::converted, {}});
    });
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
  // The queue shows what runs; files opened during the run are appended.
  if (!isBatchMode_ && fileQueue_ != runList)
    assign(fileQueue_, runList, ModelField::fileQueue);
  assign(fileOutcomes_, {}, ModelField::fileOutcomes);
  runWarnings_.clear();
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
                                              runCancelled_, *outputDirectory_);
  conversionTask_ = std::jthread([runner](std::stop_token stop) { runner->run(stop); });
}

bool ConverterModel::mayReplaceOutputs(const std::vector<fs::path> &runList) {
  replaceExisting_ = false;
  std::vector<fs::path> existing;
  for (const auto &file : runList) {
    ConversionJob job = jobFor(file, *outputDirectory_);
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

std::optional<fs::path> ConverterModel::runFileAt(std::size_t index) const {
  if (index < fileQueue_.size())
    return fileQueue_[index];
  return std::nullopt;
}

void ConverterModel::recordOutcome(const fs::path &file, FileOutcome outcome) {
  fileOutcomes_[file] = std::move(outcome);
  changed(ModelField::fileOutcomes);
}

void ConverterModel::beginFile(std::int64_t index) {
  assign(currentQueueIndex_, index, ModelField::currentQueueIndex);
  assign(currentStage_, ConversionStage::demuxing, ModelField::currentStage);
  assign(progress_, 0.0, ModelField::progress);
  assign(estimatedTimeRemaining_, std::optional<std::string>(), ModelField::estimatedTimeRemaining);
  assign(resumedChunks_, std::optional<pipeline::ResumedChunks>(), ModelField::resumedChunks);
  eta_ = EtaState{};
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
  // The engine's value is already the file's own, from 0 to 1 and never
  // going back: the console prints the same numbers.
  const double shown = fraction;
  assign(progress_, shown, ModelField::progress);
  fileStart_ = fileStart;
  lastReport_ = now();
  EtaUpdate update = updateEta(eta_, fileStart, shown, now());
  if (update.kind == EtaUpdate::Kind::clear)
    assign(estimatedTimeRemaining_, std::optional<std::string>(), ModelField::estimatedTimeRemaining);
  else if (update.kind == EtaUpdate::Kind::set)
    assign(estimatedTimeRemaining_, std::optional<std::string>(update.text), ModelField::estimatedTimeRemaining);
}

void ConverterModel::refreshEstimate() {
  if (!isConverting_ || !lastReport_)
    return;
  EtaUpdate update = staleEta(eta_, fileStart_, progress_, *lastReport_, now());
  if (update.kind == EtaUpdate::Kind::set)
    assign(estimatedTimeRemaining_, std::optional<std::string>(update.text), ModelField::estimatedTimeRemaining);
}

void ConverterModel::finishRun(bool cancelled) {
  if (cancelled) {
    appendLog("Conversion cancelled");
    assign(isConverting_, false, ModelField::isConverting);
    return;
  }
  const BatchCounts counts = batchCounts();
  if (isBatchMode_ && counts.converted == 0 && counts.failed > 0) {
    // Nothing came out of the batch: it failed, with the last file's reason.
    std::string reason;
    for (const auto &[file, outcome] : fileOutcomes_)
      if (outcome.kind == FileOutcome::Kind::failed)
        reason = file.filename().string() + ": " + outcome.reason;
    failRun(reason, false);
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
      postNotification("Conversion complete: " + lastOutputURL_->filename().string(), {*lastOutputURL_});
    }
  } else {
    appendLog("=== Batch complete: " + batchCountsText(counts) + " ===");
    postNotification("Batch complete: " + batchCountsText(counts), batchOutputURLs_);
  }
  assign(isConverting_, false, ModelField::isConverting);
}

void ConverterModel::failRun(const std::string &description, bool cancelled) {
  if (cancelled) {
    appendLog("Conversion cancelled");
    assign(isConverting_, false, ModelField::isConverting);
    return;
  }
  if (!isBatchMode_ && sourceFileURL_)
    recordOutcome(*sourceFileURL_, FileOutcome{FileOutcome::Kind::failed, description});
  assign(currentStage_, ConversionStage::failed, ModelField::currentStage);
  assign(errorMessage_, std::optional<std::string>(description), ModelField::errorMessage);
  appendLog("ERROR: " + description);
  postNotification("Conversion failed: " + description);
  assign(isConverting_, false, ModelField::isConverting);
}

} // namespace kestrova::app
