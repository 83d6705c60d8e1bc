#include "tools/LineReader.h"
#include "tools/Process.h"

#include <gtest/gtest.h>

namespace kestrova::tools {
namespace {

using Lines = std::vector<std::string>;

Lines readLines(const std::vector<std::string_view> &pieces, std::size_t longest = LineReader::kLongestLine) {
  Lines lines;
  LineReader reader([&lines](std::string_view line) { lines.emplace_back(line); }, longest);
  for (auto piece : pieces)
    reader.feed(piece);
  reader.finish();
  return lines;
}

TEST(LineReader, SameLinesWhereverTheReadsEnd) {
  struct Row {
    const char *name;
    std::string text;
    Lines lines;
    std::size_t longest = LineReader::kLongestLine;
  };
  const Row rows[] = {
      {"line feeds", "a\nbc\n", {"a", "bc"}},
      {"CRLF is one break", "a\r\nb\r\n", {"a", "b"}},
      {"progress lines end in a lone CR", "frame=1\rframe=2\rdone\n", {"frame=1", "frame=2", "done"}},
      {"empty lines stay", "\n\r\r\n", {"", "", ""}},
      {"the last line needs no break", "status 0 1", {"status 0 1"}},
      {"Latin-1 bytes are kept", "caf\xe9\nok\n", {"caf\xe9", "ok"}},
      {"a line that never ends comes in pieces", "abcdefghij\n", {"abcd", "efgh", "ij"}, 4},
  };
  for (const auto &row : rows) {
    const std::string_view text = row.text;
    EXPECT_EQ(readLines({text}, row.longest), row.lines) << row.name;
    for (std::size_t cut = 0; cut <= text.size(); ++cut)
      EXPECT_EQ(readLines({text.substr(0, cut), text.substr(cut)}, row.longest), row.lines) << row.name << " @" << cut;
    std::vector<std::string_view> bytes;
    for (std::size_t at = 0; at < text.size(); ++at)
      bytes.push_back(text.substr(at, 1));
    EXPECT_EQ(readLines(bytes, row.longest), row.lines) << row.name << " byte by byte";
  }
}

TEST(LineReader, LastLinesKeepsTheEndAndEscapesForTheLog) {
  LastLines kept(3);
  for (std::string_view line : {"one", "", "three", "caf\xe9"})
    kept.add(line);
  EXPECT_EQ(kept.lines(), (Lines{"", "three", "caf\xe9"}));
  EXPECT_EQ(kept.joined(), "\nthree\ncaf\\xe9");
  EXPECT_EQ(kept.joined(2), "three\ncaf\\xe9");
  EXPECT_EQ(lastLinesOf("a\r\nb\rc", 2), "b\nc");
}

TEST(LineReader, ProcessHandsOnWholeLinesAcrossWrites) {
  // A status line written in two pieces with a pause between, a Latin-1
  // byte, and a last line without a break on each stream.
  ProcessLaunch launch;
  launch.executable = "/bin/bash";
  launch.arguments = {"-c", "printf 'direct-pipeline: sta'; sleep 0.2; printf 'tus 0 1\\ncaf\\351\\nlast';"
                            "printf 'err\\rFrame 1\\nsize=1\\nwhy\\351 it failed' >&2"};
  auto process = Process::create(launch);
  Lines out, err;
  const auto status = runAndStreamLines(
      *process, [&out](std::string_view line) { out.emplace_back(line); },
      [&err](std::string_view line) { err.emplace_back(line); });
  EXPECT_TRUE(status.success());
  EXPECT_EQ(out, (Lines{"direct-pipeline: status 0 1", "caf\xe9", "last"}));
  EXPECT_EQ(err, (Lines{"err", "Frame 1", "size=1", "why\xe9 it failed"}));
  EXPECT_EQ(process->errorTail(), (Lines{"err", "Frame 1", "why\\xe9 it failed"})) << "no progress lines";
}

} // namespace
} // namespace kestrova::tools
