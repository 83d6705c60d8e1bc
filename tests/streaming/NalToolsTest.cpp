#include "StreamBuilder.h"
#include "ToolsFolder.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kestrova::streaming::test {
namespace {

using kestrova::test::readFile;

struct Record {
  std::string tag;
  std::vector<std::string> fields;
};

std::vector<Record> records(const std::string &text) {
  std::vector<Record> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    Record record;
    words >> record.tag;
    for (std::string word; words >> word;)
      record.fields.push_back(word);
    out.push_back(record);
  }
  return out;
}

// The chunked encode finds the IDR units of the base view this way.
TEST(NalScan, FindsTheIdrUnitsOfTheBaseView) {
  ToolsFolder folder;
  const Bytes bytes = makeStreams(64, 32, 20, 8).base;
  writeBytes(folder.work() / "base.264", bytes);
  auto run = runShell(quoted(folder.tool("nal-scan").string()) + " base.264", folder.work());
  ASSERT_TRUE(run.status.success()) << run.standardError;
  auto lines = records(run.standardOutput);
  ASSERT_EQ(lines.size(), 5u) << run.standardOutput;
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(lines[i].tag + " " + lines[i].fields[0], "split " + std::to_string(8 * i));
    // Each point is the start code of the unit's first NAL unit.
    const std::size_t offset = std::stoul(lines[i].fields[1]);
    ASSERT_LT(offset + 4, bytes.size());
    EXPECT_EQ(bytes[offset] | bytes[offset + 1] | bytes[offset + 2] | (bytes[offset + 3] ^ 1), 0);
  }
  EXPECT_EQ(lines[3].tag + " " + lines[3].fields[0], "units 20");
  EXPECT_EQ(lines[4].tag + " " + lines[4].fields[0], "bytes " + std::to_string(bytes.size()));
}

TEST(NalScan, SegmentsCoverTheStreamAndAreNeverMoreThanTheSplitPoints) {
  struct Row {
    int frames, gop, asked;
    std::size_t expected;
  };
  const Row rows[] = {{48, 8, 2, 2}, {48, 8, 4, 4}, {20, 8, 8, 3}, {20, 50, 4, 1}};
  ToolsFolder folder;
  for (const auto &row : rows) {
    SCOPED_TRACE(std::to_string(row.frames) + " frames, IDR every " + std::to_string(row.gop) + ", " +
                 std::to_string(row.asked) + " asked");
    const Bytes stream = makeStreams(64, 32, row.frames, row.gop).interleaved;
    writeBytes(folder.work() / "in.264", stream);
    auto run =
        runShell(quoted(folder.tool("nal-scan").string()) + " --segments " + std::to_string(row.asked) + " in.264",
                 folder.work());
    ASSERT_TRUE(run.status.success()) << run.standardError;
    auto segments = records(run.standardOutput);
    ASSERT_EQ(segments.size(), row.expected) << run.standardOutput;
    std::uint64_t nextUnit = 0, nextOffset = 0;
    for (const auto &segment : segments) {
      EXPECT_EQ(segment.tag, "segment");
      EXPECT_EQ(std::stoull(segment.fields[1]), nextUnit);
      EXPECT_EQ(std::stoull(segment.fields[3]), nextOffset);
      EXPECT_EQ(std::stoull(segment.fields[1]) % static_cast<unsigned>(row.gop), 0u);
      nextUnit += std::stoull(segment.fields[2]);
      nextOffset += std::stoull(segment.fields[4]);
    }
    EXPECT_EQ(nextUnit, static_cast<std::uint64_t>(row.frames));
    EXPECT_EQ(nextOffset, stream.size());
  }
}

// Pieces of about equal size, or pieces starting at the given IDR units.
TEST(NalDualSplit, PiecesInterleaveBackIntoTheWholeStream) {
  ToolsFolder folder;
  const auto streams = makeStreams(64, 32, 40, 8);
  writeBytes(folder.work() / "v.264", streams.base);
  writeBytes(folder.work() / "v.mvc", streams.mvc);
  for (const char *cut : {"--segments 3", "--at 0,8,32"}) {
    auto split =
        runShell(quoted(folder.tool("nal-dual-split").string()) + " " + cut + " v.264 v.mvc piece", folder.work());
    ASSERT_TRUE(split.status.success()) << split.standardError;
    auto pieces = records(split.standardOutput);
    ASSERT_EQ(pieces.size(), 3u) << split.standardOutput;
    EXPECT_EQ(pieces[1].fields[1], std::string(cut).starts_with("--at") ? "8" : pieces[1].fields[1]);
    std::string joined;
    std::uint64_t nextUnit = 0;
    for (const auto &piece : pieces) {
      EXPECT_EQ(std::stoull(piece.fields[1]), nextUnit);
      nextUnit += std::stoull(piece.fields[2]);
      auto interleave = runShell(quoted(folder.tool("nal-interleave").string()) + " " + piece.fields[3] + " " +
                                     piece.fields[4] + " out.264",
                                 folder.work());
      ASSERT_TRUE(interleave.status.success()) << interleave.standardError;
      joined += readFile(folder.work() / "out.264");
    }
    EXPECT_EQ(nextUnit, 40u);
    EXPECT_EQ(joined, std::string(streams.interleaved.begin(), streams.interleaved.end()));
  }
  // A cut where no IDR picture is does not decode on its own: refused.
  auto refused = runShell(quoted(folder.tool("nal-dual-split").string()) + " --at 12 v.264 v.mvc bad", folder.work());
  EXPECT_EQ(refused.status.terminationStatus, 1) << refused.standardOutput;
}

TEST(NalInterleave, ViewsOfDifferentLengthsFailWithAnErrorLine) {
  ToolsFolder folder;
  writeBytes(folder.work() / "v.264", makeStreams(64, 32, 30, 8).base);
  writeBytes(folder.work() / "v.mvc", makeStreams(64, 32, 10, 8).mvc);
  auto run = runShell(quoted(folder.tool("nal-interleave").string()) + " v.264 v.mvc out.264", folder.work());
  EXPECT_EQ(run.status.terminationStatus, 1);
  EXPECT_NE(run.standardError.find("nal-interleave: ERROR: "), std::string::npos) << run.standardError;
}

} // namespace
} // namespace kestrova::streaming::test
