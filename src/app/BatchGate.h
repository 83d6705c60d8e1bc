#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace kestrova::app {

/// The selected file's analysis state as the batch worker sees it. The main
/// thread publishes every change of `isParsing` here; the worker waits here
/// instead of polling the model.
struct BatchGate {
  std::mutex mutex;
  std::condition_variable_any changed;
  bool parsing = false;

  void setParsing(bool value) {
    {
      std::lock_guard lock(mutex);
      parsing = value;
    }
    changed.notify_all();
  }

  /// True when parsing ended within `limit`; false on timeout or stop.
  bool waitUntilParsed(std::stop_token stop, std::chrono::steady_clock::duration limit) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, stop, limit, [this] { return !parsing; });
  }
};

} // namespace kestrova::app
