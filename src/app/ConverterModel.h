#pragma once

#include "app/Clock.h"
#include "app/Dialogs.h"
#include "app/MainThreadExecutor.h"
#include "app/ModelField.h"
#include "app/Notifier.h"
#include "app/OutputConflicts.h"
#include "app/ProgressEta.h"
#include "app/Revealer.h"
#include "core/ConversionStage.h"
#include "core/OutputOptions.h"
#include "core/Records.h"
#include "core/SettingsStore.h"
#include "pipeline/PipelineEngine.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kestrova::app {

struct BatchGate;

/// Work the model started on another thread; joined when the model goes.
struct BackgroundTask {
  std::shared_ptr<std::atomic<bool>> done;
  std::jthread thread;
};

/// Analyses one source file; returns nothing when the analysis has no result
/// and throws (a kestrova::Error) when it fails. Runs off the main thread.
using SourceAnalyzerFn =
    std::function<std::optional<SourceFileInfo>(const std::filesystem::path &source, const LogFn &onLog)>;

/// Runs one file's conversion; blocks the calling thread (the batch worker).
/// The default drives the model's engine; tests may replace it.
struct ConversionRunner {
  /// A fresh conversion of `job.sourceURL`.
  std::function<ConversionResult(const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo,
                                 pipeline::ProgressHandler progress, LogFn onLog)>
      convert;
  /// The side-by-side pipeline started from a kept SBS file (`job.sourceURL`),
  /// writing outputs named after `baseName`.
  std::function<ConversionResult(const ConversionJob &job, const std::string &baseName,
                                 const std::optional<SourceFileInfo> &sourceInfo, pipeline::ProgressHandler progress,
                                 LogFn onLog)>
      convertCachedSbs;
};

/// Why a file without 3D is refused, on its queue row and in the status.
inline constexpr const char *kNo3DReason = "No 3D stream detected. Select a Blu-ray 3D .m2ts or MakeMKV 3D .mkv file.";
/// The settings key of the folder the open chooser last showed.
inline constexpr const char *kLastOpenFolder = "lastOpenFolder";

/// What became of one queued file in the current or last run.
struct FileOutcome {
  enum class Kind { converted, skipped, failed };
  Kind kind = Kind::converted;
  /// Why a file was skipped or failed, in a sentence for its queue row.
  std::string reason;
  friend bool operator==(const FileOutcome &, const FileOutcome &) = default;
};

/// How the user says one queued file holds its eyes: the automatic layout
/// takes what the analysis found.
struct FileLayout {
  StereoLayout layout = StereoLayout::automatic;
  bool swapEyes = false;
  friend bool operator==(const FileLayout &, const FileLayout &) = default;
};

/// The run's counts of converted, skipped and failed files.
struct BatchCounts {
  std::size_t converted = 0;
  std::size_t skipped = 0;
  std::size_t failed = 0;
};

/// "1 file converted, 1 skipped", "2 files converted, 1 failed".
std::string batchCountsText(const BatchCounts &counts);

/// Everything the model needs from the platform. Absent services are simply
/// not used (no notifications, no reveal, no choosers).
struct ModelEnvironment {
  std::shared_ptr<MainThreadExecutor> executor; ///< required
  std::shared_ptr<SettingsStore> settings;      ///< required
  std::shared_ptr<pipeline::PipelineEngine> engine;
  std::shared_ptr<Clock> clock;
  std::shared_ptr<Notifier> notifier;
  std::shared_ptr<Revealer> revealer;
  std::shared_ptr<Dialogs> dialogs;
  /// Default: ffprobe through the engine's tool locator.
  SourceAnalyzerFn analyzer;
  /// Default: the engine (missing functions are filled in).
  ConversionRunner runner;
  /// Default: existingOutputs (the pipeline's own plan).
  OutputConflictsFn outputConflicts;
  /// The folder the default output folder is made in (the user's videos
  /// folder); absent when the platform has none.
  std::optional<std::filesystem::path> videosDirectory;
  /// The files the command line named, queued once the window shows.
  std::vector<std::filesystem::path> startFiles;
  /// The output folder the command line named, if any.
  std::optional<std::filesystem::path> startOutputDirectory;
};

/// The application model behind the main window: settings, queue, batch run,
/// progress, log and notifications. Confined to the main thread: every
/// operation and every read happens there; work done elsewhere (analysis,
/// the batch run) posts its changes through the executor and holds the
/// model weakly. Observers are told after each change of a published field.
class ConverterModel : public std::enable_shared_from_this<ConverterModel> {
public:
  /// The log keeps this many lines of the runs since the window opened.
  static constexpr std::size_t kMaxLogLines = 20000;

  /// Builds the model: initial values, the videos-folder default output directory
  /// (not stored), and the engine's log callback.
  static std::shared_ptr<ConverterModel> create(ModelEnvironment environment);
  /// Cancels a running conversion and waits for the model's threads.
  ~ConverterModel();
  ConverterModel(const ConverterModel &) = delete;
  ConverterModel &operator=(const ConverterModel &) = delete;

  // Observation -----------------------------------------------------------
  using Observer = std::function<void(ModelField)>;
  /// Registers `observer`; returns an id for unsubscribe.
  int subscribe(Observer observer);
  void unsubscribe(int id);

  // Settings --------------------------------------------------------------
  // Every setter below is refused during a run: the settings are locked
  // then, neither changed nor stored.
  /// Reads the stored settings over the defaults, then enables storing of
  /// the output directory.
  void loadSettings();
  /// A completed run's stage returns to idle with progress 0.
  void resetCompletedState();
  void setOutputDirectory(std::optional<std::filesystem::path> directory);
  void setQualityPreset(QualityPreset preset);
  void setOutputCodec(OutputCodec codec);
  void setOutputTarget(OutputTarget target);
  void setDebugLimitSeconds(std::int64_t seconds);
  void setKeepSBSIntermediate(bool keep);
  /// The subtitle track (counted from 1, 0 for none) burned into the
  /// selected file's outputs; nothing without a selection or during a run.
  void setSubtitleTrack(int track);
  /// How many chunks of a long film this machine encodes at once; 0 lets the
  /// engine choose from the cores and the memory (and stores nothing).
  void setChunkJobs(int jobs);
  /// The GNU parallel ssh login file naming further machines for chunks;
  /// nothing: this machine only.
  void setHostsFile(std::optional<std::filesystem::path> file);
  /// The file chooser for the hosts file, opened where the current one is.
  void chooseHostsFile();
  /// Whether this machine is left out of the chunk encoding when there is a
  /// hosts file (it still cuts the film and joins the chunks).
  void setRemoteOnly(bool remoteOnly);

  // Selection and queue ---------------------------------------------------
  void selectFile(const std::filesystem::path &url);
  /// Appends the supported files of `urls` to the queue. During a run they
  /// go after the running files and the run takes them in turn; after a run
  /// (the complete page) the window first returns to Ready.
  void addFiles(const std::vector<std::filesystem::path> &urls);
  /// Refused during a run (the running batch is never changed).
  void removeFromQueue(std::int64_t index);
  /// "Browse...": the file chooser (opened in the folder of the last files
  /// chosen), then select / replace / append; during a run it only appends.
  void browseForFiles();
  /// "Open Disc Folder...": the folder chooser, then as a drop of that folder.
  void browseForDiscFolder();
  /// A drop of file URLs (or a disc folder) on the window; during a run it
  /// only appends.
  void dropFiles(const std::vector<std::filesystem::path> &urls);
  /// The folder chooser, opened at the current output folder; refused
  /// during a run.
  void chooseOutputDirectory();
  void resetForNewConversion();
  /// Replaces the queue (the single-file chooser and drop outcomes).
  void setFileQueue(std::vector<std::filesystem::path> queue);
  static bool isSupportedSource(const std::filesystem::path &url);
  /// `urls` with each folder that is not a disc replaced by the sources it
  /// holds one level down, in name order (a shelf of disc folders, disc
  /// images and rips); hidden files are left out. A folder holding none
  /// stays as it is.
  static std::vector<std::filesystem::path> sourcesOf(const std::vector<std::filesystem::path> &urls);
  /// The layout and eye order `file` is converted with; refused during a
  /// run. A given layout makes a file in which no 3D was found convertible.
  void setFileLayout(const std::filesystem::path &file, FileLayout layout);
  FileLayout fileLayout(const std::filesystem::path &file) const;

  // Run -------------------------------------------------------------------
  /// Starts the batch run on a worker thread and returns at once; observers
  /// see `isConverting` go false when the run has ended.
  void startConversion();
  void cancelConversion();
  /// Called by the shell when the application is about to quit.
  void applicationWillTerminate();
  /// Sets stage and progress, then updates the ETA against `fileStart`.
  void reportProgress(ConversionStage stage, double fraction, TimePoint fileStart);
  /// Called about once a second during a run: when no progress has come for
  /// a while the remaining time is estimated again from the file's average
  /// rate, so a stalled step shows a growing estimate rather than a frozen one.
  void refreshEstimate();

  // Log, notifications, hand-off ------------------------------------------
  void appendLog(const std::string &message);
  /// Posts `body`; `results`, when any, are what its "Show in Folder" shows.
  void postNotification(const std::string &body, std::vector<std::filesystem::path> results = {});
  void requestNotificationPermission();
  void revealInFinder();
  /// Once: queues the files the command line named and, when there are any,
  /// sets the output folder it named (else the default one).
  void handleCommandLineArguments();
  /// Files another launch of the program handed over, and the output
  /// folder it named: queued like files opened here; without a folder the
  /// window's own output folder stays.
  void openFiles(const std::vector<std::filesystem::path> &files,
                 const std::optional<std::filesystem::path> &outputDirectory);

  // Published fields ------------------------------------------------------
  const std::optional<std::filesystem::path> &sourceFileURL() const { return sourceFileURL_; }
  const std::optional<SourceFileInfo> &sourceInfo() const { return sourceInfo_; }
  const std::map<std::filesystem::path, SourceFileInfo> &fileInfoMap() const { return fileInfoMap_; }
  const std::optional<std::filesystem::path> &outputDirectory() const { return outputDirectory_; }
  QualityPreset qualityPreset() const { return qualityPreset_; }
  OutputCodec outputCodec() const { return outputCodec_; }
  OutputTarget outputTarget() const { return outputTarget_; }
  std::int64_t debugLimitSeconds() const { return debugLimitSeconds_; }
  bool keepSBSIntermediate() const { return keepSBSIntermediate_; }
  /// The selected file's subtitle track to burn in (counted from 1), 0 for
  /// none: the user's choice, else the first track the source marks forced.
  int subtitleTrack() const;
  int chunkJobs() const { return chunking_.jobs; }
  std::optional<std::filesystem::path> hostsFile() const;
  bool remoteOnly() const { return chunking_.remoteOnly; }
  /// What an earlier run of the running file's conversion left finished,
  /// when the run takes it up.
  const std::optional<pipeline::ResumedChunks> &resumedChunks() const { return resumedChunks_; }
  bool isParsing() const { return isParsing_; }
  ConversionStage currentStage() const { return currentStage_; }
  double progress() const { return progress_; }
  const std::optional<std::string> &errorMessage() const { return errorMessage_; }
  const std::vector<std::string> &logs() const { return logs_; }
  /// What the last run warned of (its log lines marked "⚠️", without the
  /// mark; in a batch each after its file's name), oldest first: a finished
  /// run shows them, since a film cut short or a track left out must not
  /// hide in the log. Changes with `logs`.
  const std::vector<std::string> &runWarnings() const { return runWarnings_; }
  /// How many lines were ever appended (the log drops its oldest lines).
  std::size_t loggedLineCount() const { return loggedLineCount_; }
  bool isConverting() const { return isConverting_; }
  const std::optional<TimePoint> &conversionStartTime() const { return conversionStartTime_; }
  const std::optional<TimePoint> &conversionEndTime() const { return conversionEndTime_; }
  const std::vector<std::filesystem::path> &fileQueue() const { return fileQueue_; }
  std::int64_t currentQueueIndex() const { return currentQueueIndex_; }
  bool isBatchMode() const { return isBatchMode_; }
  std::int64_t batchCompletedCount() const { return batchCompletedCount_; }
  const std::optional<std::filesystem::path> &lastOutputURL() const { return lastOutputURL_; }
  const std::vector<std::filesystem::path> &batchOutputURLs() const { return batchOutputURLs_; }
  const std::optional<std::string> &estimatedTimeRemaining() const { return estimatedTimeRemaining_; }
  /// The sources the current or last run has converted, in order; changes
  /// with `batchCompletedCount`.
  const std::vector<std::filesystem::path> &convertedSources() const { return convertedSources_; }
  /// What became of each file of the current or last run so far.
  const std::map<std::filesystem::path, FileOutcome> &fileOutcomes() const { return fileOutcomes_; }
  /// Why a queued file cannot be converted as it stands (its analysis failed
  /// or found no 3D in it), else nothing.
  std::optional<std::string> rejection(const std::filesystem::path &file) const;
  /// The names of the files converting `file` with the current settings
  /// writes (main file last); empty until its analysis has a result.
  std::vector<std::string> plannedOutputNames(const std::filesystem::path &file) const;
  /// The counts of the current or last run.
  BatchCounts batchCounts() const;
  /// The whole run's progress: the files before the current one counted
  /// whole, each file weighed by its duration when every duration is known.
  double batchFraction() const;
  /// The files the current or last run covers (the queue, or the one file).
  std::size_t runFileCount() const;
  /// True unless the selected file's analysis found no 3D in it and it is
  /// the only file queued (a batch skips such files by itself).
  bool selectionConvertible() const;

  // Unpublished state -----------------------------------------------------
  bool isInitialized() const { return isInitialized_; }
  const std::optional<CachedSBS> &cachedSBS() const { return cachedSBS_; }
  /// The folder the open chooser starts in.
  std::optional<std::filesystem::path> openStartDirectory() const;
  const EtaState &etaState() const { return eta_; }
  bool cliArgsHandled() const { return cliArgsHandled_; }
  /// Whether the user agreed to replace existing outputs for this run.
  bool replacingExisting() const { return replaceExisting_; }
  pipeline::PipelineEngine &pipelineEngine() const { return *env_.engine; }
  /// The conversion of `file` into `outputDirectory` with the current
  /// settings (nothing replaced yet).
  ConversionJob jobFor(const std::filesystem::path &file, const std::filesystem::path &outputDirectory) const;
  /// The duration limit the engine receives: the setting when 1 or more.
  std::optional<std::int64_t> durationLimit() const;

private:
  /// addFiles() for sources already expanded by sourcesOf().
  void queueSources(const std::vector<std::filesystem::path> &sources);
  explicit ConverterModel(ModelEnvironment environment);
  void construct();
  void changed(ModelField field);
  template <class T> void assign(T &member, T value, ModelField field) {
    member = std::move(value);
    changed(field);
  }
  TimePoint now() const { return env_.clock->now(); }
  LogFn mainThreadLog();
  /// `file`'s subtitle track to burn in (counted from 1), 0 for none.
  int subtitleTrackOf(const std::filesystem::path &file) const;
  void noteResume(pipeline::ResumedChunks resumed);
  std::int64_t cacheDuration() const { return debugLimitSeconds_ >= 1 ? debugLimitSeconds_ : 0; }

  // Analysis (FileQueue.cpp)
  void startSelectedAnalysis(const std::filesystem::path &url);
  void finishSelectedAnalysis(const std::filesystem::path &url, std::optional<SourceFileInfo> info,
                              std::exception_ptr error);
  void startQueueAnalysis(const std::filesystem::path &url);
  void spawnTask(std::function<void(std::stop_token)> task);
  void setParsing(bool parsing);

  // Run (BatchRun.cpp, SbsCache.cpp)
  friend class BatchRunner;
  /// The file the run takes at `index`: the one file, or the queue's file
  /// there (files appended during the run included); nothing at the end.
  std::optional<std::filesystem::path> runFileAt(std::size_t index) const;
  void recordOutcome(const std::filesystem::path &file, FileOutcome outcome);
  void beginFile(std::int64_t index);
  bool cacheApplies(const std::filesystem::path &file) const;
  void handleFreshResult(const std::filesystem::path &file, const ConversionResult &result);
  void recordOutput(const ConversionResult &result);
  void finishRun(bool cancelled);
  void failRun(const std::string &description, bool cancelled);
  /// Asks before a run replaces files; false when it must not start.
  bool mayReplaceOutputs(const std::vector<std::filesystem::path> &runList);
  /// Set by cancelConversion for the run in progress.
  std::shared_ptr<std::atomic<bool>> runCancelled_ = std::make_shared<std::atomic<bool>>(false);

  ModelEnvironment env_;
  std::vector<std::pair<int, Observer>> observers_;
  int nextObserverId_ = 1;

  std::optional<std::filesystem::path> sourceFileURL_;
  std::optional<SourceFileInfo> sourceInfo_;
  std::map<std::filesystem::path, SourceFileInfo> fileInfoMap_;
  std::optional<std::filesystem::path> outputDirectory_;
  bool isInitialized_ = false;
  QualityPreset qualityPreset_ = QualityPreset::medium;
  OutputCodec outputCodec_ = OutputCodec::h264;
  OutputTarget outputTarget_ = OutputTarget::sbs3D;
  std::int64_t debugLimitSeconds_ = 120;
  bool keepSBSIntermediate_ = false;
  /// Each file's subtitle track to burn in (counted from 1); absent: none.
  std::map<std::filesystem::path, int> subtitleTracks_;
  int subtitleDepth_ = kDefaultSubtitleDepth;
  ChunkingOptions chunking_;
  std::optional<pipeline::ResumedChunks> resumedChunks_;
  bool isParsing_ = false;
  ConversionStage currentStage_ = ConversionStage::idle;
  double progress_ = 0.0;
  std::optional<std::string> errorMessage_;
  std::vector<std::string> logs_;
  std::vector<std::string> runWarnings_;
  std::size_t loggedLineCount_ = 0;
  std::map<std::filesystem::path, FileOutcome> fileOutcomes_;
  std::map<std::filesystem::path, std::string> analysisFailures_;
  std::map<std::filesystem::path, FileLayout> fileLayouts_;
  std::optional<std::filesystem::path> lastOpenFolder_;
  /// When the last progress report of the running file arrived.
  std::optional<TimePoint> lastReport_;
  TimePoint fileStart_{};
  bool isConverting_ = false;
  std::optional<TimePoint> conversionStartTime_;
  std::optional<TimePoint> conversionEndTime_;
  std::optional<CachedSBS> cachedSBS_;
  std::vector<std::filesystem::path> fileQueue_;
  std::int64_t currentQueueIndex_ = 0;
  bool isBatchMode_ = false;
  std::int64_t batchCompletedCount_ = 0;
  std::optional<std::filesystem::path> lastOutputURL_;
  std::vector<std::filesystem::path> batchOutputURLs_;
  std::optional<std::string> estimatedTimeRemaining_;
  EtaState eta_;
  std::vector<std::filesystem::path> convertedSources_;
  bool cliArgsHandled_ = false;
  /// The user agreed to replace existing outputs for the run in progress.
  bool replaceExisting_ = false;

  /// Shared with the batch worker: it waits there for the selected file's
  /// analysis to end.
  std::shared_ptr<BatchGate> gate_;
  /// Analyses of source files, each on its own thread.
  std::list<BackgroundTask> tasks_;
  /// The running batch (the conversion task); joined on destruction.
  std::jthread conversionTask_;
};

} // namespace kestrova::app
