#include "tools/WorkDirectory.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <regex>

namespace kestrova::tools {
namespace {
namespace fs = std::filesystem;
using test::TempDir;
using test::writeFile;

struct Lines {
  std::vector<std::string> lines;
  LogFn sink() {
    return [this](const std::string &line) { lines.push_back(line); };
  }
};

TEST(WorkDirectory, NamesAreFreshUuidPrefixes) {
  std::regex shape("Kestrova_[0-9A-F]{8}");
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    std::string name = newWorkDirectoryName();
    EXPECT_TRUE(std::regex_match(name, shape)) << name;
    seen.insert(name);
  }
  EXPECT_GT(seen.size(), 45u);
}

TEST(WorkDirectory, CreatedInsideTheOutputFolderWithParents) {
  TempDir dir;
  Lines log;
  fs::path made = createWorkDirectory(dir / "a/b", log.sink());
  EXPECT_TRUE(fs::is_directory(made));
  EXPECT_EQ(made.parent_path(), dir / "a/b");
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0], "Created temp directory: " + made.string());
  fs::path second = createWorkDirectory(dir / "a/b", nullptr);
  EXPECT_NE(made, second);
}

TEST(WorkDirectory, RemovingIntermediatesReportsMegabytesOrWarns) {
  TempDir dir;
  writeFile(dir / "movie.track_4114.mvc", std::string(1572864, 'x'));
  writeFile(dir / "empty.264", "");
  Lines log;
  removeIntermediate(dir / "movie.track_4114.mvc", "MVC view", log.sink());
  removeIntermediate(dir / "empty.264", "base view", log.sink());
  removeIntermediate(dir / "gone.h264", "interleaved stream", log.sink());
  ASSERT_EQ(log.lines.size(), 3u);
  EXPECT_EQ(log.lines[0], "Cleaned up MVC view: movie.track_4114.mvc (1.5 MB freed)");
  EXPECT_EQ(log.lines[1], "Cleaned up base view: empty.264 (0.0 MB freed)");
  EXPECT_EQ(log.lines[2], "Warning: could not clean up interleaved stream at " + (dir / "gone.h264").string() +
                              ": No such file or directory");
  EXPECT_FALSE(fs::exists(dir / "movie.track_4114.mvc"));
  EXPECT_FALSE(fs::exists(dir / "empty.264"));
}

TEST(WorkDirectory, EndOfRunKeepsOnlyFailedRunsFiles) {
  struct Row {
    bool succeeded;
    bool cancelled;
    bool holdsFiles;
    bool kept;
    std::string verboseLine;
    std::string line; // the normal log's, with "{}" standing for the path
  };
  const Row rows[] = {
      {true, false, true, false, "Cleaned up temp directory", ""},
      {false, true, true, false, "Cancelled \u2014 cleaned up temp directory", ""},
      {true, true, true, false, "Cancelled \u2014 cleaned up temp directory", ""},
      {false, false, true, true, "", "Work files of the failed run kept in {}"},
      {false, false, false, false, "", ""},
  };
  for (const auto &row : rows) {
    TempDir dir;
    fs::path work = dir / "Kestrova_0000ABCD";
    fs::create_directories(work);
    if (row.holdsFiles)
      writeFile(work / "demux.meta", "MUXOPT");
    Lines verbose, log;
    finishWorkDirectory(row.succeeded, row.cancelled, work, verbose.sink(), log.sink());
    EXPECT_EQ(fs::exists(work), row.kept);
    std::string expected = row.line;
    if (auto at = expected.find("{}"); at != std::string::npos)
      expected.replace(at, 2, work.string());
    EXPECT_EQ(verbose.lines, row.verboseLine.empty() ? std::vector<std::string>{} : std::vector{row.verboseLine});
    EXPECT_EQ(log.lines, expected.empty() ? std::vector<std::string>{} : std::vector{expected});
  }
}

TEST(WorkDirectory, GuardRunsOnceWhenAnExceptionLeavesTheScope) {
  TempDir dir;
  fs::path work = dir / "Kestrova_00000001";
  fs::create_directories(work);
  Lines log;
  bool succeeded = false;
  try {
    WorkDirectoryGuard guard(
        work, [&] { return succeeded; }, [] { return true; }, log.sink(), log.sink());
    throw std::runtime_error("step failed");
  } catch (const std::runtime_error &) {
  }
  EXPECT_FALSE(fs::exists(work));
  EXPECT_EQ(log.lines.size(), 1u);
}

} // namespace
} // namespace kestrova::tools
