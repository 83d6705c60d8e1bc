#include "tools/WorkDirectory.h"
#include "support/TestSupport.h"
#include "tools/RunLock.h"

#include <algorithm>
#include <fcntl.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/file.h>

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

TEST(WorkDirectory, EndOfRunKeepsOnlyAFailedRunsLogAndSmallFilesUnlessAskedForMore) {
  struct Row {
    bool succeeded;
    bool cancelled;
    bool keepWork;
    bool holdsFiles;
    std::vector<std::string> left; // what stays of the folder, none: the folder goes
  };
  const std::vector<std::string> all{"demux.meta", "kestrova.log", "view.264", "view.mvc"};
  const Row rows[] = {
      {true, false, false, true, {}},  {false, true, false, true, {}},
      {true, true, true, true, {}},    {false, false, false, true, {"demux.meta", "kestrova.log"}},
      {false, false, true, true, all}, {false, false, false, false, {}},
  };
  for (const auto &row : rows) {
    TempDir dir;
    fs::path work = createWorkDirectory(dir.path(), nullptr).path;
    if (row.holdsFiles) {
      writeFile(work / "demux.meta", "MUXOPT");
      writeFile(work / "kestrova.log", "a line");
      writeFile(work / "view.264", "small but a view");
      writeFile(work / "view.mvc", std::string(kLargeWorkFileBytes, 'x'));
    }
    Lines log;
    finishWorkDirectory(row.succeeded, row.cancelled, work, nullptr, log.sink(), row.keepWork);
    std::vector<std::string> left;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(work, ec))
      left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, row.left) << row.succeeded << row.cancelled << row.keepWork;
    if (!row.left.empty()) {
      EXPECT_TRUE(std::any_of(log.lines.begin(), log.lines.end(), [&](const std::string &line) {
        return line.find((work / "kestrova.log").string()) != std::string::npos;
      })) << "the log's place is said";
    }
  }
}

// What killed runs left is removed; a live run's work, an ended run's kept
// log and a dead run's reusable work stay; a live run's outputs are busy. A
// run whose pid means nothing here (another PID namespace, another machine)
// is alive while its lock file is held.
TEST(WorkDirectory, SweepRemovesOnlyWhatDeadRunsLeft) {
  TempDir dir;
  const ProcessIdentity self = ProcessIdentity::self();
  auto makeRun = [&](const std::string &name, std::uint64_t startTime, bool locked, const std::string &extra = "") {
    fs::create_directories(dir / name);
    writeFile(dir / name / "view.mvc", "x");
    if (!extra.empty())
      writeFile(dir / name / extra / "0001.hevc", "chunk");
    if (locked)
      writeFile(dir / name / kRunLockName,
                fmt::format("{} {} {}\n{}\n", self.pid, startTime, self.bootId, (dir / "clip_SBS.mkv").string()));
    writeFile(dir / ("." + name + "-clip_SBS.mkv"), "partial");
  };
  makeRun("Kestrova_0000DEAD", self.startTime + 1, true);
  makeRun("Kestrova_0000C0DE", self.startTime + 1, true, "chunks");
  makeRun("Kestrova_0000A11E", self.startTime, true);
  makeRun("Kestrova_0000E7DE", 0, false);
  makeRun("Kestrova_0000F10C", self.startTime + 1, true);
  UniqueFd held(::open((dir / "Kestrova_0000F10C" / kRunLockName).c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);
  writeFile(dir / ".Kestrova_0000FFFF-clip.mov", "an orphan");
  writeFile(dir / "clip.m2ts", "the user's");

  const LeftoverSweep sweep = sweepLeftovers(dir.path(), {"chunks"});
  std::vector<std::string> left;
  for (const auto &entry : fs::recursive_directory_iterator(dir.path()))
    if (entry.is_regular_file())
      left.push_back(fs::relative(entry.path(), dir.path()).string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left,
            (std::vector<std::string>{".Kestrova_0000A11E-clip_SBS.mkv", ".Kestrova_0000E7DE-clip_SBS.mkv",
                                      ".Kestrova_0000F10C-clip_SBS.mkv", "Kestrova_0000A11E/kestrova.lock",
                                      "Kestrova_0000A11E/view.mvc", "Kestrova_0000C0DE/chunks/0001.hevc",
                                      "Kestrova_0000C0DE/kestrova.lock", "Kestrova_0000E7DE/view.mvc",
                                      "Kestrova_0000F10C/kestrova.lock", "Kestrova_0000F10C/view.mvc", "clip.m2ts"}));
  ASSERT_EQ(sweep.live.size(), 2u);
  EXPECT_TRUE(heldByLiveRun(dir / "Kestrova_0000F10C"));
  held.reset(); // that run ends without a word, as a killed one does
  EXPECT_FALSE(heldByLiveRun(dir / "Kestrova_0000F10C"));
  EXPECT_EQ(sweepLeftovers(dir.path(), {"chunks"}).removed.size(), 2u) << "its folder and its temporary";
  makeRun("Kestrova_00000E1F", self.startTime + 1, true);
  EXPECT_TRUE(sweepLeftovers(dir.path(), {"chunks"}, dir / "Kestrova_00000E1F").removed.empty()) << "the caller's own";
  ProcessIdentity later = self;
  later.startTime += 1;
  EXPECT_THROW(refuseBusyOutputs(sweep, later, {dir / "clip_SBS.mkv"}), OutputBusyError);
  EXPECT_NO_THROW(refuseBusyOutputs(sweep, later, {dir / "clip.mov"}));
  EXPECT_NO_THROW(refuseBusyOutputs(sweep, self, {dir / "clip_SBS.mkv"})) << "its own lock";
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
