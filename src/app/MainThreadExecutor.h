#pragma once

#include <functional>

namespace kestrova::app {

/// Runs work on the thread that owns the model (the GUI thread). `post` may be
/// called from any thread and returns at once; posted work runs later, in the
/// order it was posted. Work still queued when the executor goes away is
/// dropped without running.
class MainThreadExecutor {
public:
  virtual ~MainThreadExecutor() = default;
  virtual void post(std::function<void()> work) = 0;
};

} // namespace kestrova::app
