#pragma once

#include "tools/LineReader.h"
#include "tools/Process.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace kestrova::tools {

/// One program of a ProcessPipeline.
struct PipelineStage {
  /// What messages call it ("decoder", "ffmpeg").
  std::string name;
  /// Its program, arguments and folder; the stream modes are ignored, the
  /// pipeline wires every stream itself.
  ProcessLaunch launch;
  /// The earlier stage (its index as add() returned it) whose standard output
  /// this one reads; none: it reads /dev/null. When several stages read the
  /// same stage, each of them gets every byte (a tee done by this program).
  std::optional<std::size_t> input;
  /// Each line of its standard output when no stage reads it; without a
  /// handler such output is discarded.
  LineHandler onOutputLine;
  /// Each line of its standard error. Standard error is always read, for
  /// StageOutcome::lastLines, whether or not there is a handler.
  LineHandler onErrorLine;
};

/// How one stage ended.
struct StageOutcome {
  std::string name;
  ExitStatus status;
  /// What it wrote last to its standard error, as Process::errorTail().
  std::vector<std::string> lastLines;
  /// Its place among the stages in the order their standard error ended,
  /// which is the order they exited in (0 first).
  std::size_t endRank = 0;

  /// Ended by SIGPIPE (or, a shell, exited with 128 + SIGPIPE as its child
  /// was): a stage after it stopped reading. A consequence of another
  /// stage's end, never a fault of its own.
  bool lostItsReader() const;
  /// Ended unsuccessfully for a reason of its own (not lostItsReader()).
  bool failed() const;
  /// The status as a shell gives it: the exit code, or 128 + N for signal N.
  int shellStatus() const;
};

/// How a whole pipeline ended.
struct PipelineOutcome {
  std::vector<StageOutcome> stages; ///< in the order they were added
  /// The stop token was stopped while the pipeline ran; every stage was ended.
  bool cancelled = false;

  /// The stage to blame for a failure: of the failed() stages the one that
  /// ended first (a stage whose input ended early because an earlier one
  /// failed ends after it). Null when none failed.
  const StageOutcome *blamed() const;
  /// Not cancelled and no stage failed().
  bool success() const { return !cancelled && blamed() == nullptr; }
};

/// Programs joined by pipes (pipe2, close-on-exec) and run together. Each
/// stage starts through Process as the leader of its own process group,
/// with the death signal that ends it with this program. One poll loop on
/// the thread that calls run() reads every stage's standard error, hands on
/// the last stage's output and copies a stream read by several stages to
/// each of them; that thread owns the children until every one is reaped.
/// When a stream read by several stages loses one of its readers, the copy
/// stops for all of them (the writer then loses its reader too), as
/// `tee --output-error=exit` does.
class ProcessPipeline {
public:
  /// Makes an unstarted process for a launch; a run's processes come from
  /// its context so that a cancel of the run reaches them.
  using ProcessFactory = std::function<std::shared_ptr<Process>(ProcessLaunch launch)>;

  explicit ProcessPipeline(ProcessFactory create = &Process::create);

  /// Adds a stage and returns its index. Throws std::invalid_argument when
  /// its input is not an earlier stage.
  std::size_t add(PipelineStage stage);

  /// How long stages may take to end after SIGTERM before they get SIGKILL.
  void setGracePeriod(std::chrono::milliseconds grace) { grace_ = grace; }

  /// Starts every stage and blocks until every one has exited and every
  /// stream has been read to its end; handlers run on the calling thread.
  /// When `stop` is stopped, every stage's group gets SIGTERM, then SIGKILL
  /// after the grace period. Throws LaunchError when a stage cannot be
  /// started (or the factory's own error); then the stages already started
  /// are killed and reaped first. Call at most once.
  PipelineOutcome run(std::stop_token stop = {});

private:
  ProcessFactory create_;
  std::vector<PipelineStage> stages_;
  std::chrono::milliseconds grace_{3000};
};

} // namespace kestrova::tools
