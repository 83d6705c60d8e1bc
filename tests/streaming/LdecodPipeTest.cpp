#include "StreamBuilder.h"
#include "ToolsFolder.h"

#include <gtest/gtest.h>

namespace kestrova::streaming::test {
namespace {

namespace fs = std::filesystem;
using kestrova::test::readFile;

constexpr int kWidth = 64, kHeight = 32;
constexpr std::size_t kFrame = kWidth * kHeight * 3 / 2;

std::string decodeCommand(const ToolsFolder &folder, const std::string &input) {
  return quoted(folder.tool("ldecod-pipe").string()) + " -p InputFile=" + input +
         " -p OutputFile=output.yuv -p DecodeAllLayers=1";
}

bool privateFolderLeft(const fs::path &work) {
  for (const auto &entry : fs::directory_iterator(work))
    if (entry.path().filename().string().starts_with(".ldecod-pipe"))
      return true;
  return false;
}

TEST(LdecodPipe, WritesViewZeroThenViewOnePerFrameFromAnyKindOfInput) {
  struct Row {
    const char *name;
    std::string before, after; // around the decode command
    std::string input;
  };
  ToolsFolder folder;
  writeBytes(folder.work() / "in.264", makeStreams(kWidth, kHeight, 20, 8).interleaved);
  const Row rows[] = {
      {"a file", "", "", "in.264"},
      {"a FIFO written while it decodes", "rm -f f.264 && mkfifo f.264 && (cat in.264 > f.264 &) && ", "", "f.264"},
      {"standard input", "cat in.264 | ", "", "/dev/stdin"},
      // The decoder writes report files into its current folder and fails
      // when it cannot; /proc takes no new files, not even from root, and no
      // FIFOs, so the pipes go to a scratch folder too.
      {"started from a read-only folder", "(cd /proc && ", ")", quoted((folder.work() / "in.264").string())},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    auto run = runShell(row.before + decodeCommand(folder, row.input) + row.after + " > pairs.yuv", folder.work());
    ASSERT_TRUE(run.status.success()) << run.standardError;
    const std::string pairs = readFile(folder.work() / "pairs.yuv");
    ASSERT_EQ(pairs.size(), 20 * 2 * kFrame);
    auto labels = labelFrames(pairs, kWidth, kHeight);
    for (std::size_t i = 0; i < labels.size(); ++i) {
      EXPECT_EQ(labels[i].counter, static_cast<long>(i / 2)) << "picture " << i;
      EXPECT_EQ(labels[i].meanLuma, i % 2 == 0 ? 40 : 200) << "picture " << i;
    }
    EXPECT_FALSE(privateFolderLeft(folder.work()));
  }
}

TEST(LdecodPipe, DecoderFailuresPassThroughWithTheirStatusAndMessages) {
  struct Row {
    const char *name;
    std::string decoderScript; // empty: the double itself
    std::string input;
    int status;
    std::string message;
  };
  const auto streams = makeStreams(kWidth, kHeight, 6, 3);
  Bytes notInterleaved = streams.base;
  notInterleaved.insert(notInterleaved.end(), streams.mvc.begin(), streams.mvc.end());
  const Row rows[] = {
      {"views not interleaved", "", "bad.264", 1, "views are not interleaved"},
      {"a decoder that dies with its own status", "echo 'Error: broken slice' >&2; exit 3", "in.264", 3,
       "Error: broken slice"},
      {"a decoder killed by a signal", "kill -KILL $$", "in.264", 137, "0 frame pairs decoded"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    ToolsFolder folder;
    if (!row.decoderScript.empty())
      folder.setDecoderScript(row.decoderScript);
    writeBytes(folder.work() / "in.264", streams.interleaved);
    writeBytes(folder.work() / "bad.264", notInterleaved);
    auto run = runShell(decodeCommand(folder, row.input) + " > pairs.yuv", folder.work());
    EXPECT_EQ(run.status.terminationStatus, row.status) << run.standardError;
    EXPECT_NE(run.standardError.find(row.message), std::string::npos) << run.standardError;
    EXPECT_FALSE(privateFolderLeft(folder.work()));
  }
}

TEST(LdecodPipe, WithoutTheDecoderSaysSoInOneLine) {
  ToolsFolder folder(false);
  writeBytes(folder.work() / "in.264", makeStreams(kWidth, kHeight, 2, 2).interleaved);
  auto run = runShell(decodeCommand(folder, "in.264"), folder.work());
  EXPECT_EQ(run.status.terminationStatus, 127);
  EXPECT_NE(run.standardError.find("JM"), std::string::npos);
  EXPECT_TRUE(run.standardOutput.empty());
}

TEST(LdecodPipe, AClosedOutputEndsTheDecoderAndExitsQuietly) {
  ToolsFolder folder;
  // The double records its pid, then decodes far more than the reader takes.
  folder.setDecoderScript("echo $$ > " + quoted((folder.work() / "decoder.pid").string()) + "\nexec " +
                          quoted(KESTROVA_FAKE_LDECOD_PATH) + " \"$@\"");
  writeBytes(folder.work() / "in.264", makeStreams(kWidth, kHeight, 400, 50).interleaved);
  auto run = runShell(decodeCommand(folder, "in.264") + " | head -c 1000 > /dev/null; echo \"${PIPESTATUS[0]}\"",
                      folder.work());
  EXPECT_EQ(run.standardOutput, "0\n") << run.standardError;
  const int decoder = std::stoi(readFile(folder.work() / "decoder.pid"));
  EXPECT_FALSE(kestrova::test::processAlive(decoder));
  EXPECT_FALSE(privateFolderLeft(folder.work()));
}

TEST(LdecodPipe, ATerminationSignalEndsTheDecoderAndRemovesThePipes) {
  struct Row {
    const char *name;
    const char *decoder; ///< the decoder's script; it announces its pid through a FIFO the test reads
  };
  const Row rows[] = {{"decoder ends on SIGTERM", "echo $$ > \"$STARTED\"\nexec sleep 60"},
                      {"decoder ignores SIGTERM", "trap '' TERM\necho $$ > \"$STARTED\"\nexec sleep 60"}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    ToolsFolder folder;
    folder.setDecoderScript("STARTED=" + quoted((folder.work() / "started").string()) + "\n" + row.decoder);
    writeBytes(folder.work() / "in.264", makeStreams(kWidth, kHeight, 4, 4).interleaved);
    // A watchdog ends both with SIGKILL (status 137) if the stop takes far
    // longer than it should.
    auto run = runShell("mkfifo started && { " + decodeCommand(folder, "in.264") +
                            " > /dev/null & } && job=$! && read -r decoder < started && kill -TERM $job &&"
                            " { (sleep 10; kill -KILL $job $decoder) > /dev/null 2>&1 & } && dog=$!;"
                            " wait $job; status=$?; kill $dog; echo \"$status $decoder\"",
                        folder.work());
    int status = 0, decoder = 0;
    ASSERT_EQ(std::sscanf(run.standardOutput.c_str(), "%d %d", &status, &decoder), 2) << run.standardError;
    EXPECT_EQ(status, 143);
    EXPECT_FALSE(kestrova::test::processAlive(decoder));
    EXPECT_FALSE(privateFolderLeft(folder.work()));
  }
}

} // namespace
} // namespace kestrova::streaming::test
