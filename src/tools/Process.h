#pragma once

#include "core/Errors.h"
#include "tools/LineReader.h"

#include <array>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::tools {

/// Where a child's standard output or standard error goes.
enum class StreamMode {
  pipe,    ///< captured; chunks reach the handler given to start()
  discard, ///< /dev/null
  inherit, ///< the parent's stream
};

/// Everything needed to start one child. The environment and standard input
/// are always inherited.
struct ProcessLaunch {
  std::string executable; ///< absolute path, run without a shell
  std::vector<std::string> arguments;
  std::optional<std::filesystem::path> workingDirectory;
  StreamMode standardOutput = StreamMode::pipe;
  StreamMode standardError = StreamMode::pipe;
};

/// Descriptors a child gets as its standard input, output and error.
struct StandardStreams {
  int input = -1;
  int output = -1;
  int error = -1;
};

/// How a child ended.
struct ExitStatus {
  /// The exit code, or the signal number when the child was ended by a signal.
  int terminationStatus = 0;
  bool signalled = false;
  bool success() const { return !signalled && terminationStatus == 0; }
};

/// A child that could not be started; `what()` names the program and the cause.
class LaunchError : public Error {
public:
  using Error::Error;
};

/// Receives each chunk of a captured stream as it arrives, on the process'
/// reader thread. An empty chunk is never delivered.
using ChunkHandler = std::function<void(std::string_view chunk)>;

/// One child process, started as the leader of its own process group so
/// that signalling the group reaches a whole pipeline, and set to be killed
/// when this program dies (PR_SET_PDEATHSIG, set before its exec; see also
/// GroupSentinel.h). The thread that starts a child must outlive it: the
/// kernel takes the death of that thread for the parent's.
/// Captured streams are drained continuously by a reader thread, so a child
/// never blocks on a full pipe. Shared so that the engine can hold the
/// current process for cancellation while the step that started it waits.
class Process {
public:
  /// An unstarted process; the caller registers it for cancellation before start().
  static std::shared_ptr<Process> create(ProcessLaunch launch);

  Process(const Process &) = delete;
  Process &operator=(const Process &) = delete;
  /// A child still running at destruction is killed (its whole group) and reaped.
  ~Process();

  /// Starts the child. Throws LaunchError when it cannot be started or was
  /// stopped before it started; then nothing runs and no status exists. Call
  /// at most once.
  void start(ChunkHandler onStandardOutput = {}, ChunkHandler onStandardError = {});
  /// start() with each captured stream cut into lines by a LineReader: a
  /// line split across reads arrives whole, and a last line without a break
  /// arrives at the end of its stream.
  void startLines(LineHandler onStandardOutput, LineHandler onStandardError);
  /// Starts the child with `streams` as its standard input, output and
  /// error (borrowed: the child gets its own copies, the caller still owns
  /// them); the launch's stream modes are ignored and nothing is captured,
  /// so errorTail() stays empty. Throws as start().
  void startWired(const StandardStreams &streams);

  /// Blocks until the child has exited and every captured stream reached its
  /// end (every handler call has returned). Idempotent.
  ExitStatus wait();

  /// True from a successful start() until the child has exited.
  bool isRunning() const;
  /// The child's pid (also its process group id); 0 before start().
  pid_t pid() const;
  const ProcessLaunch &launch() const;

  /// The last lines (at most kErrorTailLines) the child wrote to a captured
  /// standard error, without progress lines ("frame=", "size=") and with
  /// bytes that are not UTF-8 escaped; what a failed tool says about why it
  /// failed. Complete once wait() returned.
  std::vector<std::string> errorTail() const;
  static constexpr std::size_t kErrorTailLines = 6;

  /// SIGTERM to the child itself. Before start() it marks the process as
  /// stopped, so that start() refuses to run it (a cancel that came between
  /// creating and starting a step's tool). No effect once it has been reaped.
  void terminate();
  /// `sig` to the child's process group. No effect once the child has been
  /// reaped, so a reused pid is never signalled.
  void signalGroup(int sig);

private:
  struct Key {
    explicit Key() = default;
  };

public:
  /// Use create(); the key keeps construction to it.
  Process(Key, ProcessLaunch launch);

private:
  struct State;
  struct Sink;
  std::shared_ptr<State> state_;
  void startWith(Sink standardOutput, Sink standardError, const StandardStreams *wired = nullptr);
  /// The reader thread's loop: hands each chunk of the child's standard
  /// output and error (descriptors `out`, `err`; -1 for none) to its sink,
  /// keeps the error lines' tail, and ends each sink once, at its stream's end.
  static void pumpOutput(int out, int err, std::array<Sink, 2> &sinks, State &state);
};

/// The output of a run-and-collect step.
struct CollectedOutput {
  ExitStatus status;
  std::string standardOutput;
  std::string standardError;
};

/// Starts `launch`, reads every captured stream to its end, waits, returns all.
/// Throws LaunchError.
CollectedOutput runAndCollect(const ProcessLaunch &launch);

/// Starts `process` with the handlers and blocks until it has exited and its
/// streams are drained. Throws LaunchError.
ExitStatus runAndStream(Process &process, ChunkHandler onStandardOutput, ChunkHandler onStandardError);
/// runAndStream() with the streams read as lines (see startLines()).
ExitStatus runAndStreamLines(Process &process, LineHandler onStandardOutput, LineHandler onStandardError);

} // namespace kestrova::tools
