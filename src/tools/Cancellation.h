#pragma once

#include "tools/Process.h"
#include "tools/SystemPrograms.h"

#include <chrono>
#include <memory>

namespace kestrova::tools {

/// The helper programs that cancellation ends by name, in this order.
inline constexpr const char *kPkillNames[] = {"ldecod-pipe", "yuv_hstack", "MVHEVCConverter", "ffmpeg"};

/// The immediate part of cancelling `process`: SIGTERM to its group, then to it.
void signalCancellation(Process &process);

/// The slow part, run on a background thread: wait up to `polls` x `interval`
/// for the process to exit, SIGKILL its group if it has not, then run
/// `pkill -f NAME` for each helper name, waiting for each; failures ignored.
void finishCancellation(const std::shared_ptr<Process> &process, const SystemPrograms &programs, int polls = 30,
                        std::chrono::milliseconds interval = std::chrono::milliseconds(100));

} // namespace kestrova::tools
