#pragma once

#include "core/ConversionStage.h"
#include "core/Log.h"
#include "core/Records.h"
#include "tools/Process.h"
#include "tools/StepContext.h"
#include "tools/ToolLocator.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace kestrova::pipeline {

/// Receives (stage, fraction 0..1) progress pairs, from any thread.
using ProgressHandler = std::function<void(ConversionStage, double)>;

/// How many of a chunked encode's chunks an earlier, interrupted run of the
/// same conversion left finished.
struct DiscSource;

struct ResumedChunks {
  int done = 0;
  int total = 0;
  friend bool operator==(const ResumedChunks &, const ResumedChunks &) = default;
};

/// Runs one conversion end to end in the pipeline that fits the source, and
/// cancels it on request. One conversion at a time; `cancel()` may be called
/// from any thread while `convert` runs on another, and holds until the next
/// `beginRun()`.
class PipelineEngine final : public tools::StepContext {
public:
  static constexpr int kBuildNumber = 134;

  /// The engine finds its tools through `locator` (which also holds the fixed
  /// system programs: bash, which).
  explicit PipelineEngine(tools::ToolLocator locator = tools::ToolLocator(tools::BundlePaths::forRunningExecutable()));
  /// Waits for the background part of every cancel() to finish.
  ~PipelineEngine();
  PipelineEngine(const PipelineEngine &) = delete;
  PipelineEngine &operator=(const PipelineEngine &) = delete;

  /// Receives the engine's own log lines. Set it before a conversion starts.
  LogFn onLog;
  /// Told, on the run's thread, when a chunked run takes up the finished
  /// chunks of an earlier one. Set it before a conversion starts.
  std::function<void(ResumedChunks)> onResume;
  /// When off, the lines marked verbose are not emitted.
  std::atomic<bool> verboseLogging{false};

  /// Converts `job`; console form: progress pairs are printed through the
  /// console line printer as "[stage] N%" at multiples of 5. `onLog` gets the
  /// driver's own lines. Blocks the calling thread (run it off the main thread).
  ConversionResult convert(const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo, LogFn onLog);
  /// Handler form: progress pairs go to `progressHandler`.
  ConversionResult convert(const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo,
                           ProgressHandler progressHandler, LogFn onLog);

  /// Sets the cancelled flag, signals the current tool and its process group,
  /// and leaves the slow part (grace period, SIGKILL, ending the helpers left
  /// in this program's own process tree) to a background thread. Returns at once.
  void cancel();
  /// Blocks until the background part of every cancel() so far has finished.
  void waitForCancellation();

  bool isCancelled() const { return cancelled_.load(); }
  /// A token that is stopped when cancel() is called during the current run;
  /// for work done inside the process (the NAL interleaver).
  std::stop_token stopToken() const;

  /// Emits `line` through onLog when set, and into the run's log file.
  void log(const std::string &line) const override;
  /// Emits `line` only when verboseLogging is on; the run's log file gets it always.
  void verbose(const std::string &line) const override;
  /// From now on every line also goes to `file` (appended); an empty path
  /// closes it. A file that cannot be opened is left out silently.
  void setRunLog(const std::filesystem::path &file);

  /// Creates an unstarted process and makes it the current process, the one
  /// cancel() ends. Every step starts its tools this way. Throws
  /// ConversionError::cancelled once the run has been cancelled. A launch
  /// without a working directory gets the run's work directory.
  std::shared_ptr<tools::Process> createCurrentProcess(tools::ProcessLaunch launch) override;
  /// `launch` with the run's work directory as its working directory unless
  /// it names one: tools write files of their own into their current
  /// directory (the JM decoder's log.dec), and the directory the program
  /// was started from may be read-only (a mounted disc).
  tools::ProcessLaunch inWorkDirectory(tools::ProcessLaunch launch) const;
  std::shared_ptr<tools::Process> currentProcess() const;
  /// Logs what the current tool wrote last to its standard error when it
  /// exited unsuccessfully, one "NAME: line" each; the user sees the tool's
  /// own reason rather than just its exit status.
  void logToolFailure() const;

  const tools::ToolLocator &locator() const { return locator_; }
  std::optional<std::string> findTool(std::string_view name) const override { return locator_.findTool(name); }
  const tools::SystemPrograms &programs() const { return locator_.programs(); }

  /// Clears the cancelled flag and arms a fresh stop token: a batch of
  /// conversions starts. A cancel() before this is forgotten; one after it
  /// holds for every conversion until the next beginRun(), even one that has
  /// not begun yet (a Ctrl-C while the source is being checked).
  void beginRun();
  /// Arms a fresh stop token for one conversion, stopped already when the
  /// engine is cancelled; the cancelled flag stays as it is.
  void armRun();
  /// The work directory of the current run (absolute), where its tools run;
  /// empty outside a run.
  void setWorkDirectory(std::filesystem::path directory);

  /// Analyses a source when the caller has no source information. The
  /// default runs ffprobe through the engine's locator; tests replace it.
  using SourceAnalyzer = std::function<std::optional<SourceFileInfo>(const std::filesystem::path &source)>;
  void setSourceAnalyzer(SourceAnalyzer analyzer) { analyzer_ = std::move(analyzer); }

private:
  void writeRunLog(const std::string &line) const;

  tools::ToolLocator locator_;
  std::atomic<bool> cancelled_{false};
  mutable std::mutex mutex_;
  std::shared_ptr<tools::Process> currentProcess_;
  std::filesystem::path workDirectory_;
  mutable std::mutex runLogMutex_;
  std::unique_ptr<std::ofstream> runLog_;
  std::stop_source stopSource_;
  std::vector<std::future<void>> cancellationTails_;
  SourceAnalyzer analyzer_;

  ConversionResult run(const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo,
                       std::function<void(ConversionStage, double)> progress, const LogFn &driverLog);
  /// What is known of the source: a disc title's facts, else `given`, else
  /// what the analyzer (ffprobe) reads; an analysis that fails is reported
  /// as ffprobe missing.
  std::optional<SourceFileInfo> readSourceInfo(const ConversionJob &job, const DiscSource *disc,
                                               const std::optional<SourceFileInfo> &given, const LogFn &say) const;
};

/// The console's progress lines: "[stage] N%", N the value the window shows
/// (truncated), when the stage changes or the value enters a new step of five
/// percent; nothing for a value with no percentage (NaN). One per run.
class ConsoleProgress {
public:
  std::optional<std::string> line(ConversionStage stage, double fraction);

private:
  std::optional<ConversionStage> stage_;
  std::int64_t step_ = -1;
};

} // namespace kestrova::pipeline
