#include "tools/Cancellation.h"

#include "tools/FileText.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <sys/prctl.h>
#include <thread>

namespace kestrova::tools {
namespace fs = std::filesystem;

namespace {

// The parent pid from /proc/PID/stat; the name before it is in parentheses
// and may itself hold ") ", so the fields are read after the last ')'.
std::optional<pid_t> parentOf(const fs::path &processFolder) {
  std::string stat = readWholeFile(processFolder / "stat");
  auto close = stat.rfind(')');
  if (close == std::string::npos || close + 4 >= stat.size())
    return std::nullopt;
  // ") S PPID ..."
  std::size_t field = stat.find(' ', close + 3);
  if (field == std::string::npos)
    return std::nullopt;
  try {
    return static_cast<pid_t>(std::stol(stat.substr(field + 1)));
  } catch (const std::exception &) {
    return std::nullopt;
  }
}

bool commandLineMatches(const fs::path &processFolder, std::span<const char *const> names) {
  std::string line = readWholeFile(processFolder / "cmdline");
  std::replace(line.begin(), line.end(), '\0', ' ');
  for (const char *name : names)
    if (line.find(name) != std::string::npos)
      return true;
  return false;
}

void signalAll(const std::vector<pid_t> &pids, int sig) {
  for (pid_t pid : pids)
    ::kill(pid, sig);
}

} // namespace

bool becomeChildSubreaper() {
  return ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0;
}

std::vector<pid_t> descendantsMatching(pid_t root, std::span<const char *const> names, const fs::path &procRoot) {
  std::multimap<pid_t, pid_t> children;
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator(procRoot, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
      continue;
    if (auto parent = parentOf(entry.path()))
      children.emplace(*parent, static_cast<pid_t>(std::stol(name)));
  }
  std::vector<pid_t> matching;
  std::vector<pid_t> pending{root};
  while (!pending.empty()) {
    pid_t parent = pending.back();
    pending.pop_back();
    auto [first, last] = children.equal_range(parent);
    for (auto it = first; it != last; ++it) {
      pending.push_back(it->second);
      if (commandLineMatches(procRoot / std::to_string(it->second), names))
        matching.push_back(it->second);
    }
  }
  return matching;
}

void signalCancellation(Process &process) {
  // The group first: one kill reaches the leader and every member at once.
  // Signalled first, a shell leader can die and be reaped by the waiting
  // step before the group signal goes out, which then no longer may be sent
  // (the pid could be reused), leaving the rest of its pipeline running.
  process.signalGroup(SIGTERM);
  process.terminate(); // in case the child has left its group
}

void finishCancellation(const std::shared_ptr<Process> &process, pid_t root, int polls,
                        std::chrono::milliseconds interval) {
  for (int i = 0; i < polls && process && process->isRunning(); ++i)
    std::this_thread::sleep_for(interval);
  if (process && process->isRunning())
    process->signalGroup(SIGKILL);
  // Helpers started by scripts may sit outside the group or outlive it; as
  // this program is their subreaper they are still its descendants. Only
  // those are reached: another conversion's or the user's own ffmpeg is not.
  auto left = descendantsMatching(root, kHelperNames);
  if (left.empty())
    return;
  signalAll(left, SIGTERM);
  for (int i = 0; i < polls / 3 && !left.empty(); ++i) {
    std::this_thread::sleep_for(interval);
    left = descendantsMatching(root, kHelperNames);
  }
  signalAll(left, SIGKILL);
}

} // namespace kestrova::tools
