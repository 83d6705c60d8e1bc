#include "tools/GroupSentinel.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace kestrova::tools {

namespace {

// The write end of the pipe the watcher reads; -1 while no watcher runs.
// Process-wide by nature: it exists to follow this process' own death.
std::atomic<int> sentinelPipe{-1};

// The watcher's whole life, in the forked child of a program that may have
// other threads: system calls only. Each message is a group to watch
// (positive) or to forget (negative); the end of the pipe is this
// program's end.
[[noreturn]] void watch(int readEnd) {
  ::setpgid(0, 0); // out of the terminal's reach: a Ctrl-C is this program's to handle
  for (int sig : {SIGINT, SIGHUP, SIGTERM, SIGQUIT, SIGPIPE})
    ::signal(sig, SIG_IGN);
  int null = ::open("/dev/null", O_RDWR);
  for (int fd = 0; fd < 3; ++fd)
    ::dup2(null, fd);
  // Nothing else may stay open here: a pipe end held by the watcher would
  // keep some reader waiting for an end that never comes.
  ::close_range(3, static_cast<unsigned>(readEnd) - 1, 0);
  ::close_range(static_cast<unsigned>(readEnd) + 1, ~0u, 0);
  constexpr int kMax = 4096;
  pid_t groups[kMax];
  int count = 0;
  for (;;) {
    std::int32_t message = 0;
    ssize_t n = ::read(readEnd, &message, sizeof message);
    if (n < 0 && errno == EINTR)
      continue;
    if (n != static_cast<ssize_t>(sizeof message))
      break;
    if (message > 0 && count < kMax) {
      groups[count++] = message;
    } else if (message < 0) {
      for (int i = 0; i < count; ++i)
        if (groups[i] == -message) {
          groups[i] = groups[--count];
          break;
        }
    }
  }
  for (int i = 0; i < count; ++i)
    ::kill(-groups[i], SIGKILL);
  ::_exit(0);
}

void send(std::int32_t message) {
  int fd = sentinelPipe.load();
  if (fd < 0)
    return;
  // Four bytes are written whole (below PIPE_BUF), so threads do not interleave.
  while (::write(fd, &message, sizeof message) < 0 && errno == EINTR) {
  }
}

} // namespace

bool startGroupSentinel() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
      return;
    pid_t pid = ::fork();
    if (pid == 0) {
      ::close(fds[1]);
      watch(fds[0]);
    }
    ::close(fds[0]);
    if (pid < 0) {
      ::close(fds[1]);
      return;
    }
    sentinelPipe = fds[1];
    started = true;
  });
  return started;
}

void watchGroupAfterDeath(pid_t group) {
  send(static_cast<std::int32_t>(group));
}

void forgetGroupAfterDeath(pid_t group) {
  send(-static_cast<std::int32_t>(group));
}

} // namespace kestrova::tools
