#include "tools/Process.h"

#include "core/UniqueFd.h"
#include "core/Utf8.h"
#include "tools/GroupSentinel.h"

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char **environ;

namespace kestrova::tools {

namespace {

struct PipePair {
  UniqueFd read;
  UniqueFd write;
};

PipePair makePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    throw LaunchError(std::string("cannot create a pipe: ") + std::strerror(errno));
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

#if defined(__SANITIZE_THREAD__)
#define KESTROVA_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KESTROVA_THREAD_SANITIZER 1
#endif
#endif
#ifndef KESTROVA_THREAD_SANITIZER
#define KESTROVA_THREAD_SANITIZER 0
#endif

// What the cloned child does between clone() and exec, prepared by the
// parent: the child shares the parent's memory (CLONE_VM) and may only make
// system calls, no allocation, no locks.
struct ChildPlan {
  const char *executable = nullptr;
  char *const *argv = nullptr;
  char *const *envp = nullptr;
  int redirect[3] = {-1, -1, -1}; // descriptor to put at 0, 1, 2; -1 leaves it
  const char *directory = nullptr;
  pid_t parent = 0;
  int errorPipe = -1; // close-on-exec; the child writes its errno here when exec fails
};

[[noreturn]] void failInChild(const ChildPlan &plan) {
  int error = errno;
  ssize_t ignored = ::write(plan.errorPipe, &error, sizeof error);
  (void)ignored;
  ::_exit(127);
}

int childMain(void *argument) {
  const ChildPlan &plan = *static_cast<const ChildPlan *>(argument);
  // Handlers are the parent's code; ignored SIGPIPE survives exec but tools
  // expect its default. Every signal stays blocked until just before exec.
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) {
    struct sigaction current {};
    if (::sigaction(sig, nullptr, &current) != 0)
      continue;
    if (sig == SIGPIPE || (current.sa_handler != SIG_IGN && current.sa_handler != SIG_DFL))
      ::sigaction(sig, &defaults, nullptr);
  }
  ::setpgid(0, 0);
  // The child dies with this program, however this program ends (kill -9 too).
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != plan.parent)
    ::_exit(127); // the parent died before the line above took effect
  for (int target = 0; target < 3; ++target) {
    int source = plan.redirect[target];
    if (source < 0)
      continue;
    if (source == target ? ::fcntl(source, F_SETFD, 0) != 0 : ::dup2(source, target) < 0)
      failInChild(plan);
  }
  if (plan.directory && ::chdir(plan.directory) != 0)
    failInChild(plan);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execve(plan.executable, plan.argv, plan.envp);
  failInChild(plan);
}

// Starts `plan` as a child that shares this process' memory until its exec
// (clone with CLONE_VFORK, as posix_spawn does), so that it can set what
// posix_spawn cannot: the signal it gets when this program dies. Returns
// the child's pid, or throws LaunchError with the child's errno.
pid_t spawnChild(ChildPlan &plan, const std::string &name) {
  PipePair errors = makePipe();
  plan.errorPipe = errors.write.get();
  plan.parent = ::getpid();
  constexpr std::size_t kStackBytes = 64 * 1024;
  auto stack = std::make_unique<std::byte[]>(kStackBytes);
  sigset_t all, previous;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous);
#if KESTROVA_THREAD_SANITIZER
  // ThreadSanitizer keeps its state in this process' memory, which a child
  // sharing it (CLONE_VM) would change behind its back: a copy instead.
  (void)stack;
  pid_t pid = ::fork();
  if (pid == 0)
    childMain(&plan);
#else
  pid_t pid = ::clone(childMain, stack.get() + kStackBytes, CLONE_VM | CLONE_VFORK | SIGCHLD, &plan);
#endif
  int cloneError = errno;
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (pid < 0)
    throw LaunchError("cannot start " + name + ": " + std::strerror(cloneError));
  errors.write.reset();
  int childError = 0;
  ssize_t n;
  while ((n = ::read(errors.read.get(), &childError, sizeof childError)) < 0 && errno == EINTR) {
  }
  if (n == static_cast<ssize_t>(sizeof childError)) {
    int ignored = 0;
    while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
    }
    throw LaunchError("cannot start " + name + ": " + std::strerror(childError));
  }
  return pid;
}

} // namespace

/// Where the reader thread sends one captured stream: each chunk, then the end.
struct Process::Sink {
  ChunkHandler onChunk;
  std::function<void()> onEnd;
};

struct Process::State {
  ProcessLaunch launch;
  mutable std::mutex mutex;
  pid_t pid = 0;
  bool started = false;
  bool stoppedBeforeStart = false;
  LastLines errorTail{kErrorTailLines};
  bool reaped = false;
  ExitStatus status;
  std::thread reader;
  bool readerJoined = true;
  bool readerDone = true;
  std::condition_variable readerFinished;
};

std::vector<std::string> Process::errorTail() const {
  return state_->errorTail.lines();
}

std::shared_ptr<Process> Process::create(ProcessLaunch launch) {
  return std::make_shared<Process>(Key(), std::move(launch));
}

Process::Process(Key, ProcessLaunch launch) : state_(std::make_shared<State>()) {
  state_->launch = std::move(launch);
}

Process::~Process() {
  bool needsKill = false;
  {
    std::lock_guard lock(state_->mutex);
    needsKill = state_->started && !state_->reaped;
    if (needsKill) {
      ::kill(-state_->pid, SIGKILL);
      ::kill(state_->pid, SIGKILL);
    }
  }
  if (state_->started)
    wait();
}

const ProcessLaunch &Process::launch() const {
  return state_->launch;
}

pid_t Process::pid() const {
  std::lock_guard lock(state_->mutex);
  return state_->pid;
}

bool Process::isRunning() const {
  std::lock_guard lock(state_->mutex);
  if (!state_->started || state_->reaped)
    return false;
  // Ask without reaping: the step that started the child reaps it in wait().
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(state_->pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
    return errno != ECHILD;
  return info.si_pid == 0;
}

void Process::terminate() {
  std::lock_guard lock(state_->mutex);
  if (!state_->started)
    state_->stoppedBeforeStart = true;
  else if (!state_->reaped)
    ::kill(state_->pid, SIGTERM);
}

void Process::signalGroup(int sig) {
  std::lock_guard lock(state_->mutex);
  if (state_->started && !state_->reaped)
    ::kill(-state_->pid, sig);
}

void Process::start(ChunkHandler onStandardOutput, ChunkHandler onStandardError) {
  startWith({std::move(onStandardOutput), {}}, {std::move(onStandardError), {}});
}

void Process::startLines(LineHandler onStandardOutput, LineHandler onStandardError) {
  auto sink = [](LineHandler onLine) -> Sink {
    if (!onLine)
      return {};
    auto reader = std::make_shared<LineReader>(std::move(onLine));
    return {[reader](std::string_view chunk) { reader->feed(chunk); }, [reader] { reader->finish(); }};
  };
  startWith(sink(std::move(onStandardOutput)), sink(std::move(onStandardError)));
}

void Process::startWired(const StandardStreams &streams) {
  startWith({}, {}, &streams);
}

void Process::startWith(Sink standardOutput, Sink standardError, const StandardStreams *wired) {
  std::lock_guard lock(state_->mutex);
  if (state_->started)
    throw LaunchError("process " + state_->launch.executable + " was already started");
  if (state_->stoppedBeforeStart)
    throw LaunchError(state_->launch.executable + " was stopped before it started");
  const ProcessLaunch &launch = state_->launch;

  UniqueFd outRead, errRead, devNull;
  std::vector<UniqueFd> childEnds;
  ChildPlan plan;
  auto wire = [&](StreamMode mode, int childFd) {
    if (mode == StreamMode::inherit)
      return UniqueFd();
    if (mode == StreamMode::discard) {
      if (!devNull.valid())
        devNull.reset(::open("/dev/null", O_WRONLY | O_CLOEXEC));
      plan.redirect[childFd] = devNull.get();
      return UniqueFd();
    }
    PipePair pipe = makePipe();
    plan.redirect[childFd] = pipe.write.get();
    childEnds.push_back(std::move(pipe.write));
    return std::move(pipe.read);
  };
  if (wired) {
    plan.redirect[STDIN_FILENO] = wired->input;
    plan.redirect[STDOUT_FILENO] = wired->output;
    plan.redirect[STDERR_FILENO] = wired->error;
  } else {
    outRead = wire(launch.standardOutput, STDOUT_FILENO);
    errRead = wire(launch.standardError, STDERR_FILENO);
  }

  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(launch.executable.c_str()));
  for (const auto &argument : launch.arguments)
    argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);
  plan.executable = launch.executable.c_str();
  plan.argv = argv.data();
  plan.envp = environ;
  std::string directory = launch.workingDirectory ? launch.workingDirectory->string() : std::string();
  if (launch.workingDirectory)
    plan.directory = directory.c_str();

  pid_t pid = spawnChild(plan, launch.executable);
  childEnds.clear(); // the parent must not hold the write ends, or EOF never comes
  watchGroupAfterDeath(pid);

  state_->pid = pid;
  state_->started = true;
  if (wired)
    return; // nothing captured, so no reader
  state_->readerJoined = false;
  state_->readerDone = false;
  state_->reader = std::thread([out = std::move(outRead), err = std::move(errRead),
                                sinks = std::array<Sink, 2>{std::move(standardOutput), std::move(standardError)},
                                state = state_]() mutable { pumpOutput(out.get(), err.get(), sinks, *state); });
}

void Process::pumpOutput(int out, int err, std::array<Sink, 2> &sinks, State &state) {
  LineReader errorLines([&state](std::string_view line) { keepToolErrorLine(state.errorTail, line); });
  pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
  char buffer[65536];
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0)
        continue;
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n < 0 && (errno == EINTR || errno == EAGAIN))
        continue;
      if (n <= 0) {
        fds[i].fd = -1; // end of stream; poll ignores negative descriptors
        if (sinks[i].onEnd)
          sinks[i].onEnd();
        continue;
      }
      std::string_view chunk(buffer, static_cast<std::size_t>(n));
      if (i == 1)
        errorLines.feed(chunk);
      if (sinks[i].onChunk)
        sinks[i].onChunk(chunk);
    }
  }
  for (int i = 0; i < 2; ++i)
    if (fds[i].fd >= 0 && sinks[i].onEnd)
      sinks[i].onEnd();
  errorLines.finish();
}

ExitStatus Process::wait() {
  std::unique_lock lock(state_->mutex);
  if (!state_->started)
    return state_->status;
  if (!state_->reaped) {
    pid_t pid = state_->pid;
    lock.unlock();
    // Wait for the exit without reaping, so the pid stays a zombie (and cannot
    // be reused) until the reap below happens under the lock that the
    // signalling functions take.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    lock.lock();
    if (!state_->reaped) {
      int raw = 0;
      pid_t result = ::waitpid(pid, &raw, WNOHANG);
      state_->reaped = true;
      forgetGroupAfterDeath(pid);
      if (result == pid && WIFSIGNALED(raw))
        state_->status = {WTERMSIG(raw), true};
      else if (result == pid && WIFEXITED(raw))
        state_->status = {WEXITSTATUS(raw), false};
      else
        state_->status = {-1, false};
    }
  }
  // All output is delivered before any caller sees the status.
  if (!state_->readerJoined) {
    state_->readerJoined = true;
    std::thread reader = std::move(state_->reader);
    lock.unlock();
    reader.join();
    lock.lock();
    state_->readerDone = true;
    state_->readerFinished.notify_all();
  }
  state_->readerFinished.wait(lock, [this] { return state_->readerDone; });
  return state_->status;
}

CollectedOutput runAndCollect(const ProcessLaunch &launch) {
  auto process = Process::create(launch);
  CollectedOutput output;
  std::mutex mutex;
  process->start(
      [&](std::string_view chunk) {
        std::lock_guard lock(mutex);
        output.standardOutput.append(chunk);
      },
      [&](std::string_view chunk) {
        std::lock_guard lock(mutex);
        output.standardError.append(chunk);
      });
  output.status = process->wait();
  return output;
}

ExitStatus runAndStream(Process &process, ChunkHandler onStandardOutput, ChunkHandler onStandardError) {
  process.start(std::move(onStandardOutput), std::move(onStandardError));
  return process.wait();
}

ExitStatus runAndStreamLines(Process &process, LineHandler onStandardOutput, LineHandler onStandardError) {
  process.startLines(std::move(onStandardOutput), std::move(onStandardError));
  return process.wait();
}

} // namespace kestrova::tools
