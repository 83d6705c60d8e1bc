#pragma once

#include "tools/Process.h"

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace kestrova::tools {

/// The helper programs a cancel ends wherever they sit in this program's own
/// process tree, matched anywhere in their command line.
inline constexpr const char *kHelperNames[] = {"ldecod-pipe", "yuv_hstack", "MVHEVCConverter", "ffmpeg"};

/// Makes the calling process the reaper of its orphaned descendants
/// (PR_SET_CHILD_SUBREAPER): a helper whose parent died, or that left its
/// process group, stays in the tree a cancel searches. False when refused.
bool becomeChildSubreaper();

/// The pids of `root`'s descendants (root excluded) whose command line
/// (arguments joined by spaces) contains one of `names`, read from
/// `procRoot`. Processes outside root's tree are never listed.
std::vector<pid_t> descendantsMatching(pid_t root, std::span<const char *const> names,
                                       const std::filesystem::path &procRoot = "/proc");

/// The immediate part of cancelling `process`: SIGTERM to its group, then to
/// it (or, not started yet, it is marked so that it never starts).
void signalCancellation(Process &process);

/// The slow part, run on a background thread: wait up to `polls` x
/// `interval` for `process` (may be null) to exit, SIGKILL its group if it
/// has not; then SIGTERM every helper left among `root`'s descendants, and
/// SIGKILL those still there after another grace period.
void finishCancellation(const std::shared_ptr<Process> &process, pid_t root, int polls = 30,
                        std::chrono::milliseconds interval = std::chrono::milliseconds(100));

} // namespace kestrova::tools
