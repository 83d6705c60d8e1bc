#include "StreamBuilder.h"
#include "ToolsFolder.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kestrova::streaming::test {
namespace {

namespace fs = std::filesystem;
using kestrova::test::readFile;

constexpr int kWidth = 128, kHeight = 64;
// The encoder arguments the program would pass, for a fast software encode.
const std::string kEncode =
    " --encode -c:v --encode libx264 --encode -preset --encode ultrafast --join -c:a --join copy";

struct ScriptRun {
  tools::CollectedOutput output;
  std::vector<FrameLabel> left, right; ///< per decoded output frame
};

// Runs the script from `folder` on a generated stream, then decodes its
// output with ffmpeg and reads the frame counters of both halves.
ScriptRun runScript(const ToolsFolder &folder, const MvcStreams &streams, const std::string &options) {
  writeBytes(folder.work() / "in.264", streams.interleaved);
  writeBytes(folder.work() / "v.264", streams.base);
  writeBytes(folder.work() / "v.mvc", streams.mvc);
  fs::remove(folder.work() / "out_SBS.mkv");
  fs::create_directories(folder.work() / "with blank");
  ScriptRun run;
  run.output =
      runShell(quoted(folder.tool("parallel-pipeline.sh").string()) +
                   " in.264 in.264 out_SBS.mkv --width 128 --height 64 --fps 24/1 --workdir . " + options + kEncode,
               folder.work());
  if (!run.output.status.success())
    return run;
  auto decode =
      runShell("ffmpeg -v error -nostdin -y -i out_SBS.mkv -f rawvideo -pix_fmt yuv420p out.yuv", folder.work());
  EXPECT_TRUE(decode.status.success()) << decode.standardError;
  const std::string frames = readFile(folder.work() / "out.yuv");
  run.left = labelFrames(frames, 2 * kWidth, kHeight, 0);
  run.right = labelFrames(frames, 2 * kWidth, kHeight, kWidth);
  return run;
}

bool segmentFolderLeft(const fs::path &work) {
  for (const auto &entry : fs::directory_iterator(work))
    if (entry.path().filename().string().starts_with("parallel_segments"))
      return true;
  return false;
}

TEST(ParallelPipeline, SegmentsJoinIntoTheSameFramesAsOneWorker) {
  struct Row {
    const char *name;
    std::string options;
    std::string split;
    bool swapped;
    int gop = 12;
  };
  const Row rows[] = {
      {"one worker", "--workers 1", "Split into 1 segments", false},
      {"two workers", "--workers 2", "Split into 2 segments", false},
      {"dual split, eyes swapped", "--workers 2 --swap --dual-split v.264 v.mvc", "Split into 2 segments", true},
      {"dual split in a folder with a blank", "--workers 2 --dual-split v.264 v.mvc --workdir 'with blank'",
       "Split into 2 segments", false},
      {"fewer split points than workers", "--workers 4", "Split into 2 segments", false, 24},
  };
  ToolsFolder folder;
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    auto run = runScript(folder, makeStreams(kWidth, kHeight, 48, row.gop), row.options);
    ASSERT_TRUE(run.output.status.success()) << run.output.standardError << run.output.standardOutput;
    EXPECT_NE(run.output.standardOutput.find(row.split), std::string::npos) << run.output.standardOutput;
    ASSERT_EQ(run.left.size(), 48u);
    for (std::size_t i = 0; i < run.left.size(); ++i) {
      EXPECT_EQ(run.left[i].counter, static_cast<long>(i)) << "frame " << i;
      EXPECT_EQ(run.right[i].counter, static_cast<long>(i)) << "frame " << i;
      // View 0 is dark, view 1 bright; the encoder moves levels a little.
      EXPECT_NEAR(run.left[i].meanLuma, row.swapped ? 200 : 40, 12) << "frame " << i;
      EXPECT_NEAR(run.right[i].meanLuma, row.swapped ? 40 : 200, 12) << "frame " << i;
    }
    EXPECT_FALSE(segmentFolderLeft(folder.work()));
  }
}

TEST(ParallelPipeline, AFailingWorkerFailsTheRunWithAnErrorAndLeavesNoSegments) {
  ToolsFolder folder;
  // Whichever decoder starts first fails; the other one works. (Each
  // decoder runs in a private folder of its own.)
  const std::string lock = quoted((folder.work() / "../failed.lock").string());
  folder.setDecoderScript("if mkdir " + lock +
                          " 2>/dev/null; then echo 'Error: corrupt slice' >&2; exit 3; fi\n"
                          "exec " +
                          quoted(KESTROVA_FAKE_LDECOD_PATH) + " \"$@\"");
  auto run = runScript(folder, makeStreams(kWidth, kHeight, 48, 12), "--workers 2");
  EXPECT_EQ(run.output.status.terminationStatus, 1);
  EXPECT_NE(run.output.standardError.find(" FAILED (exit 3)"), std::string::npos) << run.output.standardError;
  EXPECT_NE(run.output.standardError.find("Error: corrupt slice"), std::string::npos) << run.output.standardError;
  EXPECT_EQ(run.output.standardOutput.find("COMPLETE"), std::string::npos);
  EXPECT_FALSE(fs::exists(folder.work() / "out_SBS.mkv"));
  EXPECT_FALSE(segmentFolderLeft(folder.work()));

  // An interleaver that fails before it opens its FIFO must not leave the
  // decoder waiting for a writer.
  ToolsFolder broken;
  fs::remove(broken.tool("nal-interleave"));
  kestrova::test::writeFile(broken.tool("nal-interleave"),
                            "#!/bin/bash\necho 'nal-interleave: ERROR: no' >&2\nexit 1\n");
  fs::permissions(broken.tool("nal-interleave"), fs::perms::owner_all);
  auto dual = runScript(broken, makeStreams(kWidth, kHeight, 48, 12), "--workers 2 --dual-split v.264 v.mvc");
  EXPECT_EQ(dual.output.status.terminationStatus, 1);
  EXPECT_NE(dual.output.standardError.find("nal-interleave: ERROR: no"), std::string::npos)
      << dual.output.standardError;
  EXPECT_FALSE(segmentFolderLeft(broken.work()));
}

TEST(ParallelPipeline, ATerminationSignalEndsEveryWorkerAndRemovesTheSegments) {
  struct Row {
    const char *name;
    const char *signals; ///< shell run with the script's pid in $!
  };
  // A cancel signals the script's group and then the script itself, so a
  // second SIGTERM can land while the first one's clean-up is under way.
  const Row rows[] = {
      {"one SIGTERM", "kill -TERM $!"},
      {"SIGTERM repeated during the clean-up",
       "kill -TERM $!; for i in 1 2 3 4 5 6 7 8; do sleep 0.02; kill -TERM $! 2>/dev/null; done; true"}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    ToolsFolder folder;
    // Each decoder notes its pid; the first announces itself through a FIFO the test reads.
    const std::string up = quoted((folder.work() / "..").string());
    folder.setDecoderScript("echo $$ >> " + up + "/decoders\necho $$ > " + up + "/started\nexec sleep 60");
    writeBytes(folder.work() / "in.264", makeStreams(kWidth, kHeight, 48, 12).interleaved);
    auto run =
        runShell("mkfifo ../started && { " + quoted(folder.tool("parallel-pipeline.sh").string()) +
                     " in.264 in.264 out_SBS.mkv --width 128 --height 64 --fps 24/1 --workdir . --workers 2" + kEncode +
                     " > /dev/null 2>&1 & } &&"
                     " read -r first < ../started && { " +
                     row.signals + "; } && wait $!; echo $?",
                 folder.work());
    EXPECT_EQ(run.standardOutput, "143\n") << run.standardError;
    std::istringstream decoders(readFile(folder.work() / "../decoders"));
    for (int pid; decoders >> pid;)
      EXPECT_FALSE(kestrova::test::processAlive(pid)) << pid;
    EXPECT_FALSE(segmentFolderLeft(folder.work()));
    EXPECT_FALSE(fs::exists(folder.work() / "out_SBS.mkv"));
  }
}

} // namespace
} // namespace kestrova::streaming::test
