#pragma once

#include "MvcStreams.h"
#include "core/Errors.h"
#include "core/Records.h"
#include "fakes/FakeToolFolder.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/ToolOutputParsers.h"
#include "support/MediaFiles.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrova::test {

/// The error `body` fails with; a test failure when it does not fail.
template <typename F> ConversionError conversionErrorOf(F &&body) {
  try {
    body();
  } catch (const ConversionError &error) {
    return error;
  }
  ADD_FAILURE() << "no ConversionError";
  return ConversionError::cancelled();
}

/// The names of a folder's entries, sorted.
std::vector<std::string> entryNames(const std::filesystem::path &folder);

/// An engine that finds its tools only in a folder of doubles (plus the real
/// programs the test links in), with a recorded log.
struct MvcEngineFixture {
  TempDir dir;
  // Shaped like an installed tools folder: ldecod-pipe looks for ldecod
  // beside itself only when it sits in .../share/kestrova/tools.
  FakeToolFolder tools{dir / "share/kestrova/tools"};
  std::unique_ptr<pipeline::PipelineEngine> engine;
  std::mutex mutex;
  std::vector<std::string> lines;
  std::vector<std::pair<ConversionStage, double>> progress;

  MvcEngineFixture();
  /// Links the real ffmpeg (and ffprobe) into the tool folder.
  void addRealFfmpeg();
  /// Links the JM decoder's double into the tool folder as "ldecod".
  void addFakeLdecod();
  /// Adds the streaming pair, the real ldecod-pipe (a copy, since it finds
  /// ldecod from where its binary lies) and the real yuv_hstack. With them
  /// the decision leaves the disk-based variant.
  void addStreamingTools();
  /// Adds the real segment-parallel script and nal-scan beside the streaming
  /// pair; with `dualSplit` also nal-dual-split and nal-interleave.
  void addParallelScript(bool dualSplit);
  /// MVHEVCConverter's conversion runs (its usage check, run without arguments, is not one).
  std::size_t converterRuns() const;
  std::vector<std::string> logLines();
  std::vector<std::pair<ConversionStage, double>> progressPairs();
  pipeline::ProgressReport progressRecorder();
};

constexpr int kWidth = 64, kHeight = 48, kFrames = 12;

/// A conversion of a generated source through the engine with tsMuxeR,
/// ldecod and MVHEVCConverter doubles and the real ffmpeg. Which MVC variant
/// runs follows from the tools added to the folder: as built, disk-based.
struct MvcConversionFixture : MvcEngineFixture {
  std::filesystem::path output = dir / "out";
  ConversionJob job;
  SourceFileInfo info;

  explicit MvcConversionFixture(const std::string &sourceName, Stereo3DMode mode = Stereo3DMode::mvcSeparateTracks());
  /// tsMuxeR's double: the single-track listing on stdout, and the view
  /// streams written into the directory it is given (`mvcFrames` MVC access
  /// units, kFrames by default).
  void demuxWrites(const std::vector<std::string> &suffixes, int mvcFrames = kFrames);
  /// Base-view pictures between IDR pictures (each with its parameter set)
  /// in the streams demuxWrites prepares; 0: only the first.
  int idrInterval = 0;
  /// Makes tsMuxeR's double also leave a non-empty folder where the FIFO
  /// goes, so that no FIFO can be made there. Call after demuxWrites.
  void blockFifo();
  ConversionResult convert() { return engine->convert(job, info, progressRecorder(), {}); }
  std::vector<std::filesystem::path> workDirectories() const;
  /// The output folder's entries, sorted.
  std::vector<std::string> outputNames() const;

private:
  bool fifoBlocked_ = false;
  void writeDemuxWrapper();
};

/// Points $XDG_RUNTIME_DIR and $TMPDIR, where FIFOs go when the work
/// directory has none, at `folder` while it lives ("/proc" takes no FIFO).
class ScratchFolders {
public:
  explicit ScratchFolders(const std::string &folder);
  ~ScratchFolders();
  ScratchFolders(const ScratchFolders &) = delete;
  ScratchFolders &operator=(const ScratchFolders &) = delete;

private:
  std::optional<std::string> saved_[2];
};

} // namespace kestrova::test
