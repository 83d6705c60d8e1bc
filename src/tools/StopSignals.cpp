#include "tools/StopSignals.h"

#include <csignal>
#include <ctime>
#include <pthread.h>

namespace kestrova::tools {

namespace {
sigset_t stopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kStopSignals)
    sigaddset(&set, sig);
  return set;
}
} // namespace

void blockStopSignals() {
  for (int sig : kStopSignals)
    std::signal(sig, SIG_DFL);
  sigset_t stops = stopSignalSet();
  ::pthread_sigmask(SIG_BLOCK, &stops, nullptr);
}

StopSignalWatcher::StopSignalWatcher(std::function<void(int)> onSignal)
    : thread_([this, onSignal = std::move(onSignal)](std::stop_token stop) {
        sigset_t stops = stopSignalSet();
        const timespec pollInterval{0, 100'000'000};
        while (!stop.stop_requested()) {
          int sig = ::sigtimedwait(&stops, nullptr, &pollInterval);
          if (sig <= 0 || received_.load() != 0)
            continue;
          received_ = sig;
          onSignal(sig);
        }
      }) {}

} // namespace kestrova::tools
