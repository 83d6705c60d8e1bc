#include "tools/ProcessPipeline.h"

#include "core/UniqueFd.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace kestrova::tools {

namespace {

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

Pipe makePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    throw LaunchError(std::string("cannot create a pipe: ") + std::strerror(errno));
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

void setNonBlocking(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// A bigger pipe means fewer wake-ups for the copy; a refusal only costs speed.
void enlarge(int fd) {
#ifdef F_SETPIPE_SZ
  ::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
#else
  (void)fd;
#endif
}

// Writes of this thread to a pipe whose reader has gone fail with EPIPE
// instead of raising SIGPIPE, which would end the whole program where it is
// not ignored; a SIGPIPE raised meanwhile is taken off before the mask goes.
class SigpipeBlocked {
public:
  SigpipeBlocked() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe, &previous_);
  }
  ~SigpipeBlocked() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    const timespec none{};
    while (::sigtimedwait(&pipe, nullptr, &none) == SIGPIPE) {
    }
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SigpipeBlocked(const SigpipeBlocked &) = delete;
  SigpipeBlocked &operator=(const SigpipeBlocked &) = delete;

private:
  sigset_t previous_{};
};

// A captured stream of one stage, cut into lines.
struct LineStream {
  UniqueFd fd;
  std::unique_ptr<LineReader> lines;
  int stage = -1;
  bool isError = false;
};

// One stage's output copied to several readers.
struct Tee {
  UniqueFd source;
  std::vector<UniqueFd> sinks;
  std::vector<std::size_t> written;
  std::vector<char> buffer = std::vector<char>(1 << 20);
  std::size_t filled = 0;

  void stop() {
    source.reset();
    for (auto &sink : sinks)
      sink.reset();
    filled = 0;
  }
  bool open() const {
    return source.valid() || std::any_of(sinks.begin(), sinks.end(), [](const UniqueFd &s) { return s.valid(); });
  }
};

// What each stage gets as its standard streams until it has started.
struct ChildEnds {
  UniqueFd input, output, error;
};

} // namespace

bool StageOutcome::lostItsReader() const {
  return shellStatus() == 128 + SIGPIPE;
}

bool StageOutcome::failed() const {
  return !status.success() && !lostItsReader();
}

int StageOutcome::shellStatus() const {
  return status.signalled ? 128 + status.terminationStatus : status.terminationStatus;
}

const StageOutcome *PipelineOutcome::blamed() const {
  const StageOutcome *first = nullptr;
  for (const auto &stage : stages)
    if (stage.failed() && (!first || stage.endRank < first->endRank))
      first = &stage;
  return first;
}

ProcessPipeline::ProcessPipeline(ProcessFactory create) : create_(std::move(create)) {}

std::size_t ProcessPipeline::add(PipelineStage stage) {
  if (stage.input && *stage.input >= stages_.size())
    throw std::invalid_argument("pipeline stage " + stage.name + " reads a stage that is not before it");
  stages_.push_back(std::move(stage));
  return stages_.size() - 1;
}

namespace {

// The state of one run: the wiring, the children and the poll loop.
class PipelineRun {
public:
  PipelineRun(std::vector<PipelineStage> &stages, std::chrono::milliseconds grace) : stages_(stages), grace_(grace) {}

  void wire();
  void start(const ProcessPipeline::ProcessFactory &create);
  void loop(std::stop_token stop);
  PipelineOutcome finish();
  void killStarted();

private:
  std::vector<PipelineStage> &stages_;
  std::chrono::milliseconds grace_;
  std::vector<ChildEnds> ends_;
  std::vector<std::shared_ptr<Process>> processes_;
  std::vector<LineStream> streams_;
  std::vector<Tee> tees_;
  std::deque<LastLines> tails_;
  std::vector<std::size_t> endRanks_;
  std::size_t ended_ = 0;
  bool cancelled_ = false;

  void addStream(UniqueFd fd, int stage, bool isError);
  void signalAll(int sig);
  void readStream(LineStream &stream);
  void copy(Tee &tee, const std::vector<pollfd> &fds, std::size_t &at);
};

void PipelineRun::addStream(UniqueFd fd, int stage, bool isError) {
  setNonBlocking(fd.get());
  LineHandler handler = isError ? stages_[stage].onErrorLine : stages_[stage].onOutputLine;
  LineHandler onLine = handler;
  if (isError)
    onLine = [this, stage, handler](std::string_view line) {
      keepToolErrorLine(tails_[stage], line);
      if (handler)
        handler(line);
    };
  streams_.push_back({std::move(fd), std::make_unique<LineReader>(std::move(onLine)), stage, isError});
}

void PipelineRun::wire() {
  const std::size_t count = stages_.size();
  ends_.resize(count);
  for (std::size_t i = 0; i < count; ++i)
    tails_.emplace_back(Process::kErrorTailLines);
  endRanks_.assign(count, count);
  UniqueFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
  for (std::size_t i = 0; i < count; ++i) {
    std::vector<std::size_t> readers;
    for (std::size_t j = i + 1; j < count; ++j)
      if (stages_[j].input == i)
        readers.push_back(j);
    if (!stages_[i].input)
      ends_[i].input = UniqueFd(::fcntl(devNull.get(), F_DUPFD_CLOEXEC, 0));
    Pipe error = makePipe();
    ends_[i].error = std::move(error.write);
    addStream(std::move(error.read), static_cast<int>(i), true);
    if (readers.size() == 1) {
      Pipe data = makePipe();
      ends_[i].output = std::move(data.write);
      ends_[readers.front()].input = std::move(data.read);
    } else if (readers.empty() && stages_[i].onOutputLine) {
      Pipe data = makePipe();
      ends_[i].output = std::move(data.write);
      addStream(std::move(data.read), static_cast<int>(i), false);
    } else if (readers.empty()) {
      ends_[i].output = UniqueFd(::fcntl(devNull.get(), F_DUPFD_CLOEXEC, 0));
    } else {
      Tee &tee = tees_.emplace_back();
      Pipe data = makePipe();
      enlarge(data.write.get());
      ends_[i].output = std::move(data.write);
      tee.source = std::move(data.read);
      setNonBlocking(tee.source.get());
      for (std::size_t reader : readers) {
        Pipe copy = makePipe();
        enlarge(copy.write.get());
        setNonBlocking(copy.write.get());
        tee.sinks.push_back(std::move(copy.write));
        ends_[reader].input = std::move(copy.read);
      }
      tee.written.assign(readers.size(), 0);
    }
  }
}

void PipelineRun::start(const ProcessPipeline::ProcessFactory &create) {
  for (auto &stage : stages_)
    processes_.push_back(create(stage.launch));
  for (std::size_t i = 0; i < stages_.size(); ++i) {
    ChildEnds &ends = ends_[i];
    processes_[i]->startWired({ends.input.get(), ends.output.get(), ends.error.get()});
    // Only the child may hold its ends, or its readers never see an end.
    ends = {};
  }
}

void PipelineRun::killStarted() {
  signalAll(SIGKILL);
  for (auto &process : processes_)
    process->wait();
}

void PipelineRun::signalAll(int sig) {
  for (auto &process : processes_)
    process->signalGroup(sig);
}

void PipelineRun::readStream(LineStream &stream) {
  char buffer[65536];
  ssize_t n = ::read(stream.fd.get(), buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN))
    return;
  if (n > 0) {
    stream.lines->feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    return;
  }
  stream.lines->finish();
  stream.fd.reset();
  if (stream.isError)
    endRanks_[static_cast<std::size_t>(stream.stage)] = ended_++;
}

// One step of a tee: fills its buffer from the source once every reader has
// had the last one, and hands each reader what it has not had yet.
void PipelineRun::copy(Tee &tee, const std::vector<pollfd> &fds, std::size_t &at) {
  if (tee.source.valid() && tee.filled == 0) {
    if (fds[at++].revents != 0) {
      ssize_t n = ::read(tee.source.get(), tee.buffer.data(), tee.buffer.size());
      if (n > 0) {
        tee.filled = static_cast<std::size_t>(n);
        std::fill(tee.written.begin(), tee.written.end(), 0);
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        tee.stop(); // the end of the stream reaches every reader
      }
    }
    return;
  }
  for (std::size_t i = 0; i < tee.sinks.size(); ++i) {
    if (!tee.sinks[i].valid() || tee.written[i] >= tee.filled)
      continue;
    if (fds[at++].revents == 0)
      continue;
    ssize_t n = ::write(tee.sinks[i].get(), tee.buffer.data() + tee.written[i], tee.filled - tee.written[i]);
    if (n > 0)
      tee.written[i] += static_cast<std::size_t>(n);
    else if (n < 0 && errno != EINTR && errno != EAGAIN) {
      tee.stop(); // a reader has gone: the copy ends for every reader
      return;
    }
  }
  if (std::all_of(tee.written.begin(), tee.written.end(), [&](std::size_t w) { return w >= tee.filled; }))
    tee.filled = 0;
}

void PipelineRun::loop(std::stop_token stop) {
  Pipe wake = makePipe();
  setNonBlocking(wake.read.get());
  const int wakeWrite = wake.write.get();
  std::stop_callback onStop(stop, [wakeWrite] {
    ssize_t ignored = ::write(wakeWrite, "x", 1);
    (void)ignored;
  });
  std::optional<std::chrono::steady_clock::time_point> killAt;
  std::vector<pollfd> fds;
  for (;;) {
    fds.clear();
    if (!cancelled_)
      fds.push_back({wake.read.get(), POLLIN, 0});
    for (auto &stream : streams_)
      if (stream.fd.valid())
        fds.push_back({stream.fd.get(), POLLIN, 0});
    for (auto &tee : tees_) {
      if (tee.source.valid() && tee.filled == 0)
        fds.push_back({tee.source.get(), POLLIN, 0});
      else
        for (std::size_t i = 0; i < tee.sinks.size(); ++i)
          if (tee.sinks[i].valid() && tee.written[i] < tee.filled)
            fds.push_back({tee.sinks[i].get(), POLLOUT, 0});
    }
    const std::size_t watched = fds.size() - (cancelled_ ? 0 : 1);
    if (watched == 0)
      break;
    int timeout = -1;
    if (killAt) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*killAt - std::chrono::steady_clock::now());
      timeout = static_cast<int>(std::max<std::int64_t>(0, left.count()));
    }
    int ready = ::poll(fds.data(), fds.size(), timeout);
    if (ready < 0 && errno != EINTR)
      throw LaunchError(std::string("cannot wait for the pipeline: ") + std::strerror(errno));
    if (killAt && std::chrono::steady_clock::now() >= *killAt) {
      signalAll(SIGKILL);
      killAt.reset();
    }
    if (ready <= 0)
      continue;
    std::size_t at = 0;
    if (!cancelled_ && fds[at++].revents != 0) {
      cancelled_ = true;
      signalAll(SIGTERM);
      killAt = std::chrono::steady_clock::now() + grace_;
    }
    for (auto &stream : streams_)
      if (stream.fd.valid() && fds[at++].revents != 0)
        readStream(stream);
    for (auto &tee : tees_)
      if (tee.open())
        copy(tee, fds, at);
  }
}

PipelineOutcome PipelineRun::finish() {
  PipelineOutcome outcome;
  outcome.cancelled = cancelled_;
  for (std::size_t i = 0; i < stages_.size(); ++i)
    outcome.stages.push_back({stages_[i].name, processes_[i]->wait(), tails_[i].lines(), endRanks_[i]});
  return outcome;
}

} // namespace

PipelineOutcome ProcessPipeline::run(std::stop_token stop) {
  SigpipeBlocked sigpipeBlocked;
  PipelineRun run(stages_, grace_);
  run.wire();
  try {
    run.start(create_);
  } catch (...) {
    run.killStarted();
    throw;
  }
  try {
    run.loop(std::move(stop));
  } catch (...) {
    run.killStarted();
    throw;
  }
  return run.finish();
}

} // namespace kestrova::tools
