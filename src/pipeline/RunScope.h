#pragma once

#include "core/Records.h"
#include "pipeline/PipelineRun.h"
#include "tools/WorkDirectory.h"

#include <exception>
#include <filesystem>
#include <functional>
#include <optional>

namespace kestrova::pipeline {

/// Throws NoSpaceError for `folder` when `error` is a full disk: ENOSPC from
/// our own writes, or a tool's "No space left on device".
void throwIfOutOfSpace(const std::exception &error, const std::filesystem::path &folder);

/// The life of one conversion in its output folder, the same for every kind
/// of run (a conversion from the source, a Vision Pro run from a kept
/// side-by-side file): the work folder, the staged outputs and the commit.
/// Only one run of the engine at a time holds a scope.
class RunScope {
public:
  /// Makes `run`'s work folder inside its output folder (a full disk is
  /// named as such), holding the lock that names the planned outputs;
  /// sweeps what earlier runs left and refuses outputs a live run is
  /// writing; points the engine's tools and run log at the folder; stages
  /// the outputs. `run` must outlive the scope.
  RunScope(PipelineRun &run, bool keepWork);
  /// Removes what was staged and not committed, then keeps or removes the
  /// work folder by how the run ended.
  ~RunScope();
  RunScope(const RunScope &) = delete;
  RunScope &operator=(const RunScope &) = delete;

  /// Runs `road`, then gives the outputs their final names, each checked to
  /// be there. A cancel that came while the road ran ends the run without a
  /// commit. A failure leaves as cancelled when the run was cancelled, as a
  /// SourceError when the source went away meanwhile, as NoSpaceError when
  /// the disk is full (in the error's or the last tool's own words, or by
  /// the free space left), else unchanged after the failing tool's last
  /// lines are logged.
  ConversionResult runAndCommit(const std::function<ConversionResult()> &road);

private:
  PipelineRun &run_;
  std::optional<tools::WorkDirectoryGuard> guard_;
};

} // namespace kestrova::pipeline
