#include "tools/Process.h"

#include "core/UniqueFd.h"
#include "core/Utf8.h"

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

// RAII wrappers for the posix_spawn attribute objects.
struct SpawnActions {
  posix_spawn_file_actions_t value;
  SpawnActions() { posix_spawn_file_actions_init(&value); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&value); }
};
struct SpawnAttributes {
  posix_spawnattr_t value;
  SpawnAttributes() { posix_spawnattr_init(&value); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&value); }
};

// Points one of the child's output streams at /dev/null or leaves it inherited.
void wireUncaptured(StreamMode mode, int childFd, SpawnActions &actions) {
  if (mode == StreamMode::discard)
    posix_spawn_file_actions_addopen(&actions.value, childFd, "/dev/null", O_WRONLY, 0);
}

// What a failed tool says last, for errorTail(): its lines without
// trailing blanks, empty lines and encoder progress lines.
void keepErrorLine(LastLines &tail, std::string_view line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
    line.remove_suffix(1);
  if (!line.empty() && !line.starts_with("frame=") && !line.starts_with("size="))
    tail.add(escapedForLog(line));
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

void Process::startWith(Sink standardOutput, Sink standardError) {
  std::lock_guard lock(state_->mutex);
  if (state_->started)
    throw LaunchError("process " + state_->launch.executable + " was already started");
  if (state_->stoppedBeforeStart)
    throw LaunchError(state_->launch.executable + " was stopped before it started");
  const ProcessLaunch &launch = state_->launch;

  SpawnActions actions;
  UniqueFd outRead, errRead;
  std::vector<UniqueFd> childEnds;
  auto wire = [&](StreamMode mode, int childFd) {
    if (mode != StreamMode::pipe) {
      wireUncaptured(mode, childFd, actions);
      return UniqueFd();
    }
    PipePair pipe = makePipe();
    posix_spawn_file_actions_adddup2(&actions.value, pipe.write.get(), childFd);
    childEnds.push_back(std::move(pipe.write));
    return std::move(pipe.read);
  };
  outRead = wire(launch.standardOutput, STDOUT_FILENO);
  errRead = wire(launch.standardError, STDERR_FILENO);
  if (launch.workingDirectory)
    posix_spawn_file_actions_addchdir_np(&actions.value, launch.workingDirectory->c_str());

  SpawnAttributes attributes;
  sigset_t emptyMask, defaults;
  sigemptyset(&emptyMask);
  sigemptyset(&defaults);
  // The parent ignores SIGPIPE; ignored dispositions survive exec, so reset it.
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setflags(&attributes.value, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attributes.value, 0);
  posix_spawnattr_setsigmask(&attributes.value, &emptyMask);
  posix_spawnattr_setsigdefault(&attributes.value, &defaults);

  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(launch.executable.c_str()));
  for (const auto &argument : launch.arguments)
    argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  int error = ::posix_spawn(&pid, launch.executable.c_str(), &actions.value, &attributes.value, argv.data(), environ);
  childEnds.clear(); // the parent must not hold the write ends, or EOF never comes
  if (error != 0)
    throw LaunchError("cannot start " + launch.executable + ": " + std::strerror(error));

  state_->pid = pid;
  state_->started = true;
  state_->readerJoined = false;
  state_->readerDone = false;
  state_->reader = std::thread([out = std::move(outRead), err = std::move(errRead),
                                sinks = std::array<Sink, 2>{std::move(standardOutput), std::move(standardError)},
                                state = state_]() mutable {
    LineReader errorLines([&state](std::string_view line) { keepErrorLine(state->errorTail, line); });
    pollfd fds[2] = {{out.get(), POLLIN, 0}, {err.get(), POLLIN, 0}};
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
  });
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
