#include "MvcTestSupport.h"
#include "core/Errors.h"
#include "support/RealMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;
using test::kFrames;
using test::MvcConversionFixture;

/// The program ignores SIGPIPE, so an interleaver whose reader goes away
/// sees EPIPE; the tests must run the same way.
struct IgnoreSigpipe {
  IgnoreSigpipe() : previous(std::signal(SIGPIPE, SIG_IGN)) {}
  ~IgnoreSigpipe() { std::signal(SIGPIPE, previous); }
  IgnoreSigpipe(const IgnoreSigpipe &) = delete;
  IgnoreSigpipe &operator=(const IgnoreSigpipe &) = delete;
  void (*previous)(int);
};

enum class Variant { dualSplitParallel, parallel, fifo, pipeFromFile };

/// A conversion fixture whose tool folder selects `variant`.
struct VariantFixture : MvcConversionFixture {
  IgnoreSigpipe sigpipe;
  std::optional<test::ScratchFolders> noScratchFifos;
  VariantFixture(Variant variant, Stereo3DMode mode) : MvcConversionFixture("disc.m2ts", mode) {
    addStreamingTools();
    if (variant == Variant::pipeFromFile) {
      blockFifo();
      noScratchFifos.emplace("/proc");
    }
    if (variant == Variant::parallel || variant == Variant::dualSplitParallel) {
      addParallelScript(variant == Variant::dualSplitParallel);
      // Two split points for the two workers of this machine.
      idrInterval = kFrames / 2;
      demuxWrites({".track_4113.264", ".track_4114.mvc"});
    }
  }
};

TEST(MvcVariants, ConvertEndToEndWithViewsInTheirHalves) {
  struct Row {
    const char *name;
    Variant variant;
    Stereo3DMode mode;
    OutputTarget target;
    std::vector<std::string> outputs;
    bool swapped;
  };
  const Row rows[] = {
      {"FIFO", Variant::fifo, Stereo3DMode::mvcSeparateTracks(), OutputTarget::sbs3D, {"disc_SBS.mkv"}, false},
      {"FIFO, right eye first",
       Variant::fifo,
       Stereo3DMode::mvcSingleTrack(true),
       OutputTarget::sbs3D,
       {"disc_SBS.mkv"},
       true},
      {"FIFO, Vision Pro, eyes swapped by the user",
       Variant::fifo,
       Stereo3DMode::mvcSeparateTracks(true),
       OutputTarget::visionPro,
       {"disc.mov", "disc_SBS.mov"},
       true},
      {"parallel", Variant::parallel, Stereo3DMode::mvcSeparateTracks(), OutputTarget::sbs3D, {"disc_SBS.mkv"}, false},
      {"pipe from an interleaved file",
       Variant::pipeFromFile,
       Stereo3DMode::mvcSingleTrack(true),
       OutputTarget::sbs3D,
       {"disc_SBS.mkv"},
       true},
      {"dual split",
       Variant::dualSplitParallel,
       Stereo3DMode::mvcSingleTrack(true),
       OutputTarget::sbs3D,
       {"disc_SBS.mkv"},
       true},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    VariantFixture f(row.variant, row.mode);
    f.job.outputTarget = row.target;
    std::vector<std::string> workAtFinish;
    auto record = f.progressRecorder();
    auto result = f.engine->convert(f.job, f.info,
                                    [&](ConversionStage stage, double fraction) {
                                      record(stage, fraction);
                                      if (stage == ConversionStage::complete)
                                        workAtFinish = test::entryNames(f.workDirectories().at(0));
                                    },
                                    {});
    const bool oneDecode = row.target == OutputTarget::visionPro;
    EXPECT_EQ(f.outputNames(), row.outputs) << "the work directory is gone and nothing else is left";
    EXPECT_EQ(result.outputPath, (f.output / row.outputs.front()).string());
    fs::path sbs = f.output / row.outputs.back();
    auto [left, right] = test::halfLumaMeans(sbs);
    double view0 = row.swapped ? right : left, view1 = row.swapped ? left : right;
    EXPECT_LT(view0, 70) << "view 0 is dark";
    EXPECT_GT(view1, 170) << "view 1 is bright";
    EXPECT_NE(test::streamSummary(sbs).find(", audio"), std::string::npos) << test::streamSummary(sbs);
    EXPECT_TRUE(f.tools.calls("ldecod").empty()) << "no disk-based decode";
    for (const auto &name : workAtFinish)
      // The folder in the FIFO's place is the test's own.
      EXPECT_FALSE(name.ends_with(".yuv") || name.ends_with(".mvc") ||
                   (name == "interleave_fifo.264" ? row.variant != Variant::pipeFromFile
                                                  : row.variant != Variant::parallel && name.ends_with(".264")))
          << name << " left in the work directory";
    EXPECT_EQ(f.converterRuns(), oneDecode ? 1u : 0u);
    auto pairs = f.progressPairs();
    if (!oneDecode && (row.variant == Variant::parallel || row.variant == Variant::dualSplitParallel)) {
      // The script's phases, in order.
      const std::vector<ConversionStage> phases{ConversionStage::decoding, ConversionStage::encoding,
                                                ConversionStage::complete};
      auto next = phases.begin();
      for (const auto &pair : pairs)
        if (next != phases.end() && pair.first == *next)
          ++next;
      EXPECT_EQ(next, phases.end()) << "phase points in order";
    }
    EXPECT_TRUE(std::is_sorted(pairs.begin(), pairs.end(), [](const auto &a, const auto &b) {
      return a.second < b.second;
    })) << "fractions never go back";
  }
}

TEST(MvcVariants, OutputFolderWithoutFifosOrLinksKeepsTheVariant) {
  // A USB drive as users format it: exFAT has neither FIFOs nor links.
  test::TempDir mountArea;
  std::string why;
  auto exfat = test::ExfatMount::create(mountArea.path(), 256, why);
  if (!exfat)
    GTEST_SKIP() << "no exFAT file system to test on: " << why;
  struct Row {
    const char *name;
    Variant variant;
    const char *road; ///< a part of the line that names the road taken
  };
  const Row rows[] = {
      {"FIFO", Variant::fifo, "FIFO pipeline"},
      {"dual split", Variant::dualSplitParallel, "Dual-split parallel pipeline"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    VariantFixture f(row.variant, Stereo3DMode::mvcSeparateTracks());
    test::TempDir scratch;
    test::ScratchFolders fifosGoHere(scratch.path().string());
    f.output = exfat->path() / row.name;
    fs::create_directories(f.output);
    f.job.outputDirectory = f.output;
    f.convert();
    EXPECT_EQ(f.outputNames(), std::vector<std::string>{"disc_SBS.mkv"});
    auto lines = f.logLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const auto &line) {
      return line.starts_with("===") && line.find(row.road) != std::string::npos;
    }));
    EXPECT_TRUE(fs::is_empty(scratch.path())) << "the FIFO folder is removed";
  }
}

TEST(MvcVariants, CancelLeavesNoProcessAndNoWorkDirectory) {
  struct Row {
    const char *name;
    Variant variant;
  };
  const Row rows[] = {{"FIFO", Variant::fifo},
                      {"pipe from file", Variant::pipeFromFile},
                      {"parallel", Variant::parallel},
                      {"dual split", Variant::dualSplitParallel}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    VariantFixture f(row.variant, Stereo3DMode::mvcSeparateTracks());
    const bool piped = row.variant == Variant::fifo || row.variant == Variant::pipeFromFile;
    const fs::path started = f.dir / "decoder-started";
    if (piped) {
      // A streaming decoder that reports and then hangs without reading its
      // input (in the FIFO variant the interleaver is left waiting for it).
      fs::remove(f.tools / "ldecod-pipe");
      f.tools.add("ldecod-pipe",
                  {{"steps", {{{"stderr", "ldecod-pipe: 1 frame pairs decoded\n"}}, {{"sleep_ms", 60000}}}}});
    } else {
      // The script's workers end in a JM decoder that hangs; it says it has
      // started through a file the test waits for (a while at most), so the
      // cancel reaches running workers.
      fs::remove(f.tools / "ldecod");
      f.tools.add("ldecod",
                  {{"steps", {{{"write_file", started.string()}, {"content", "up"}}, {{"sleep_ms", 60000}}}}});
    }
    std::atomic<bool> cancelled{false};
    std::optional<ConversionError> error;
    try {
      f.engine->convert(f.job, f.info,
                        [&](ConversionStage stage, double) {
                          if (stage != ConversionStage::decoding || cancelled.exchange(true))
                            return;
                          // on the script's reader thread: the run goes on meanwhile
                          for (int i = 0; !piped && !fs::exists(started) && i < 600; ++i)
                            std::this_thread::sleep_for(std::chrono::milliseconds(100));
                          f.engine->cancel();
                        },
                        {});
    } catch (const ConversionError &e) {
      error = e;
    }
    f.engine->waitForCancellation();
    EXPECT_EQ(error, ConversionError::cancelled());
    EXPECT_TRUE(f.workDirectories().empty());
    auto decoders = f.tools.calls(piped ? "ldecod-pipe" : "ldecod");
    EXPECT_FALSE(decoders.empty());
    for (const auto &call : decoders)
      EXPECT_FALSE(test::processAlive(call.pid)) << "decoder " << call.pid;
    EXPECT_FALSE(f.engine->currentProcess()->isRunning());
  }
}

TEST(MvcVariants, ViewsOfDifferentLengthsFailInWordsBeforeAnyDecoding) {
  VariantFixture f(Variant::fifo, Stereo3DMode::mvcSeparateTracks());
  f.demuxWrites({".track_4113.264", ".track_4114.mvc"}, kFrames + 8);
  const auto error = test::conversionErrorOf([&] { f.convert(); });
  EXPECT_NE(error.detail().find("the base view stops at 12 of 20 pictures"), std::string::npos) << error.detail();
  EXPECT_TRUE(f.tools.calls("ldecod-pipe").empty()) << "found before the decode";
  EXPECT_EQ(f.workDirectories().size(), 1u) << "a failure keeps the work directory";
}

TEST(MvcVariants, FifoDecoderFailureEndsTheRunWithoutWaitingForTheInterleaver) {
  VariantFixture f(Variant::fifo, Stereo3DMode::mvcSeparateTracks());
  // A decoder that fails before it ever opens the FIFO.
  std::string errors;
  for (int line = 1; line <= 12; ++line)
    errors += "ldecod-pipe: error line " + std::string(line < 10 ? "0" : "") + std::to_string(line) + "\n";
  fs::remove(f.tools / "ldecod-pipe");
  f.tools.add("ldecod-pipe", {{"steps", {{{"stderr", errors}}, {{"exit", 1}}}}});
  const auto error = test::conversionErrorOf([&] { f.convert(); });
  EXPECT_EQ(error.kind(), ConversionError::Kind::decodingFailed);
  // Names the decoder and keeps its last words.
  EXPECT_TRUE(error.detail().starts_with("ldecod-pipe") && error.detail().ends_with("error line 12")) << error.detail();
  EXPECT_EQ(f.workDirectories().size(), 1u);
}

TEST(MvcVariants, ParallelWorkerFailureFailsTheConversion) {
  VariantFixture f(Variant::parallel, Stereo3DMode::mvcSeparateTracks());
  fs::remove(f.tools / "ldecod");
  f.tools.add("ldecod", {{"steps", {{{"stderr", "Error: cannot decode\n"}}, {{"exit", 1}}}}});
  const auto error = test::conversionErrorOf([&] { f.convert(); });
  EXPECT_EQ(error.kind(), ConversionError::Kind::decodingFailed);
  EXPECT_NE(error.detail().find("cannot decode"), std::string::npos) << error.detail();
  EXPECT_EQ(f.workDirectories().size(), 1u);
}

} // namespace
} // namespace kestrova::pipeline
