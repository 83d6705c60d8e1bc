#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace kestrova::tools {

/// The signals that stop a conversion the way a cancel does: Ctrl-C
/// (SIGINT), SIGTERM and a closed terminal (SIGHUP). The program exits with
/// 128 + the signal's number afterwards.
inline constexpr int kStopSignals[] = {2 /*SIGINT*/, 15 /*SIGTERM*/, 1 /*SIGHUP*/};

/// Restores the default action of the stop signals (a shell starts a
/// background command with SIGINT ignored, and an ignored signal is dropped
/// before it can be waited for) and blocks them in the calling thread and
/// every thread it starts later. Call from the main thread before any other
/// thread starts; children get an empty mask back.
void blockStopSignals();

/// Takes the blocked stop signals on a thread of its own and calls
/// `onSignal` with the first one that arrives (later ones are taken and
/// dropped). The handler runs on the watcher's thread.
class StopSignalWatcher {
public:
  explicit StopSignalWatcher(std::function<void(int)> onSignal);
  StopSignalWatcher(const StopSignalWatcher &) = delete;
  StopSignalWatcher &operator=(const StopSignalWatcher &) = delete;

  /// The stop signal that arrived, or 0.
  int received() const { return received_.load(); }

private:
  std::atomic<int> received_{0};
  std::jthread thread_;
};

} // namespace kestrova::tools
