#pragma once

#include "core/Errors.h"
#include "core/Log.h"
#include "core/UniqueFd.h"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::tools {

/// The lock file every run keeps in its work folder while it runs: the
/// owner's pid, its start time and the boot it started in, then the final
/// names of the outputs it writes, one a line.
inline constexpr const char *kRunLockName = "kestrova.lock";

/// A process told apart from a later one that got the same pid: its start
/// time (clock ticks after boot) and the boot's id.
struct ProcessIdentity {
  pid_t pid = 0;
  std::uint64_t startTime = 0;
  std::string bootId;

  /// The calling process.
  static ProcessIdentity self();
  /// Whether this very process still runs (a zombie does not).
  bool alive() const;
  /// Started before `other` (by start time, then pid).
  bool earlierThan(const ProcessIdentity &other) const;
};

/// Writes the lock of the calling process into `workDirectory` and holds it
/// (an exclusive flock of the file) while the returned descriptor is open:
/// other processes know the run is alive by it where its pid means nothing
/// to them (another PID namespace, another machine sharing the folder). On a
/// file system without locks the pid alone tells. File-system errors propagate.
UniqueFd writeRunLock(const std::filesystem::path &workDirectory, const std::vector<std::filesystem::path> &outputs);

/// Removes the lock once the run has ended (a failed run's kept folder then
/// reads as ended, not as a run that was killed). Never throws.
void removeRunLock(const std::filesystem::path &workDirectory);

/// Whether `workDirectory` holds the lock of a run that still works there:
/// its lock file is held, or its process still runs on this machine.
bool heldByLiveRun(const std::filesystem::path &workDirectory);

/// Another run still working in the same output folder.
struct LiveRun {
  std::filesystem::path workDirectory;
  ProcessIdentity owner;
  std::vector<std::filesystem::path> outputs;
};

/// What a look at an output folder found and did.
struct LeftoverSweep {
  std::vector<LiveRun> live;                  ///< other runs still at work there
  std::vector<std::filesystem::path> removed; ///< leftovers of dead runs, removed
  std::uintmax_t bytesFreed = 0;
};

/// Looks for what killed runs left in `outputDirectory` and removes it: work
/// folders ("Kestrova_" + 8 hex digits) whose lock is held by no one and
/// names a process that is gone, and the hidden temporaries ("." or ".." + such a folder's name +
/// "-...") of runs that no longer work there. A dead run's folder holding an
/// entry named in `reusable` (work a later run can take up) is kept with
/// that entry; only its other contents go. Folders without a lock (runs that
/// ended on their own, a failure's kept log) are left alone, and so is the
/// caller's own work folder `own`, whose lock is not even opened (on NFS a
/// process's locks go with any of its descriptors of the file). Never
/// throws; what cannot be removed stays.
LeftoverSweep sweepLeftovers(const std::filesystem::path &outputDirectory,
                             const std::vector<std::string> &reusable = {}, const std::filesystem::path &own = {});

/// Another run is writing one of this run's outputs.
class OutputBusyError : public Error {
public:
  /// `owner`: the other run's process where this machine can see it, none
  /// when only its held lock tells (another PID namespace or machine).
  OutputBusyError(const std::filesystem::path &output, std::optional<pid_t> owner);
};

/// Throws OutputBusyError when a run in `sweep.live` other than `self` that
/// started before it writes one of `outputs`. Of two runs that start at
/// once, both see each other once their locks are written; the later gives way.
void refuseBusyOutputs(const LeftoverSweep &sweep, const ProcessIdentity &self,
                       const std::vector<std::filesystem::path> &outputs);

/// "Removed what an interrupted run left: NAME, NAME (N MB)" when the sweep
/// removed anything.
void logSweep(const LeftoverSweep &sweep, const LogFn &log);

} // namespace kestrova::tools
