#pragma once

#include <sys/types.h>

namespace kestrova::tools {

/// Starts, once per program, a small watcher process that outlives this one
/// only to end what it started: when this program ends in any way (kill -9
/// included) the watcher sends SIGKILL to the process group of every child
/// started through Process that has not been reaped yet, so the helpers a
/// script started (which inherit its group but not its death signal) go
/// too. Call it early, from the program's main thread; later calls do
/// nothing. False when the watcher could not be started.
bool startGroupSentinel();

/// Adds the process group `group` to the watcher's list; nothing when no
/// watcher runs. Safe from any thread.
void watchGroupAfterDeath(pid_t group);

/// Takes `group` off the list once its leader has been reaped (its number
/// may then be reused by an unrelated group).
void forgetGroupAfterDeath(pid_t group);

} // namespace kestrova::tools
