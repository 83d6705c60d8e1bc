#include "tools/Cancellation.h"

#include <csignal>
#include <thread>

namespace kestrova::tools {

void signalCancellation(Process &process) {
  // The group first: one kill reaches the leader and every member at once.
  // Signalled first, a shell leader can die and be reaped by the waiting
  // step before the group signal goes out, which then no longer may be sent
  // (the pid could be reused), leaving the rest of its pipeline running.
  process.signalGroup(SIGTERM);
  process.terminate(); // in case the child has left its group
}

void finishCancellation(const std::shared_ptr<Process> &process, const SystemPrograms &programs, int polls,
                        std::chrono::milliseconds interval) {
  for (int i = 0; i < polls && process && process->isRunning(); ++i)
    std::this_thread::sleep_for(interval);
  if (process && process->isRunning())
    process->signalGroup(SIGKILL);
  // Helpers started by scripts may sit outside the group (or outlive it);
  // these end them by name, as a last resort.
  for (const char *name : kPkillNames) {
    try {
      ProcessLaunch launch;
      launch.executable = programs.pkill;
      launch.arguments = {"-f", name};
      launch.standardOutput = StreamMode::discard;
      launch.standardError = StreamMode::discard;
      auto pkill = Process::create(std::move(launch));
      pkill->start();
      pkill->wait();
    } catch (const LaunchError &) {
      // Cancellation reports nothing; the next name is tried.
    }
  }
}

} // namespace kestrova::tools
