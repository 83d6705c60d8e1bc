#pragma once

#include "app/ConverterModel.h"
#include "support/TestSupport.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

namespace kestrova::test {

/// The main thread of a test: work posted from any thread waits in a queue
/// until the test drains it on its own thread.
class QueueExecutor final : public app::MainThreadExecutor {
public:
  void post(std::function<void()> work) override;
  /// Runs queued work on the calling thread until `done()` holds; waits for
  /// new work in between. Returns false if nothing arrives for a minute (a
  /// hang guard, not a timing assertion).
  bool drainUntil(const std::function<bool()> &done);
  /// Runs what is queued now and what that work queues in turn.
  void drainAvailable();

private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::function<void()>> queue_;
};

/// A clock that stands still.
class FakeClock final : public app::Clock {
public:
  app::TimePoint now() const override { return std::chrono::system_clock::from_time_t(1'700'000'000); }
};

class RecordingNotifier final : public app::Notifier {
public:
  void post(const app::Notification &notification) override { posted.push_back(notification); }
  void requestPermission(std::function<void(const std::string &)>) override {}
  std::vector<app::Notification> posted;
};

class RecordingRevealer final : public app::Revealer {
public:
  void reveal(const std::vector<std::filesystem::path> &files) override { revealed.push_back(files); }
  std::vector<std::vector<std::filesystem::path>> revealed;
};

class ScriptedDialogs final : public app::Dialogs {
public:
  std::vector<std::filesystem::path> openFiles(const app::OpenFilesRequest &request) override {
    lastOpen = request;
    return files;
  }
  std::optional<std::filesystem::path> chooseDirectory(const app::ChooseDirectoryRequest &request) override {
    lastChoose = request;
    return directory;
  }
  bool confirmReplace(const std::vector<std::filesystem::path> &existing) override {
    askedToReplace.push_back(existing);
    return replace;
  }
  std::vector<std::filesystem::path> files;
  bool replace = false;
  std::vector<std::vector<std::filesystem::path>> askedToReplace;
  std::optional<std::filesystem::path> directory;
  app::OpenFilesRequest lastOpen;
  app::ChooseDirectoryRequest lastChoose;
};

/// A side-by-side source that the analysis double reports as 3D.
SourceFileInfo sideBySideInfo(const std::filesystem::path &file, bool has3D = true);

/// A model over doubles in a scratch folder: settings file, clock, executor,
/// notifier, revealer, dialogs, an analysis double answering from `analyses`
/// (unknown files fail), and a real engine whose tools folder holds nothing.
struct ModelFixture {
  ModelFixture();
  /// Builds the model (after the test has adjusted the environment).
  std::shared_ptr<app::ConverterModel> make();
  /// The settings file on disk, parsed.
  nlohmann::json storedSettings() const;
  /// A file of `size` bytes in the sources folder.
  std::filesystem::path source(const std::string &name, std::size_t size = 64);
  /// True when some log line ends with `message`.
  static bool logged(const app::ConverterModel &model, const std::string &message);

  TempDir dir;
  std::shared_ptr<QueueExecutor> executor = std::make_shared<QueueExecutor>();
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  std::shared_ptr<RecordingNotifier> notifier = std::make_shared<RecordingNotifier>();
  std::shared_ptr<RecordingRevealer> revealer = std::make_shared<RecordingRevealer>();
  std::shared_ptr<ScriptedDialogs> dialogs = std::make_shared<ScriptedDialogs>();
  std::shared_ptr<std::mutex> analysesMutex = std::make_shared<std::mutex>();
  std::shared_ptr<std::map<std::filesystem::path, SourceFileInfo>> analyses =
      std::make_shared<std::map<std::filesystem::path, SourceFileInfo>>();
  app::ModelEnvironment environment;
};

/// A model fixture for runs: the model made and set up with an output
/// folder, and the steps of a run, each waited for on the test's main thread.
struct ModelRunFixture : ModelFixture {
  std::filesystem::path out = dir / "out";
  std::shared_ptr<app::ConverterModel> model;

  /// Makes the model, loads the settings and sets `out` as the output folder.
  void build();
  /// Selects `file` and waits for its analysis.
  void select(const std::filesystem::path &file);
  /// Starts the run and waits for its end.
  void runToEnd();
};

} // namespace kestrova::test
