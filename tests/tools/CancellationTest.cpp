#include "tools/Cancellation.h"
#include "fakes/FakeToolFolder.h"
#include "pipeline/PipelineEngine.h"
#include "support/TestSupport.h"

#include <future>
#include <gtest/gtest.h>

namespace kestrova::tools {
namespace {
namespace fs = std::filesystem;
using test::FakeToolFolder;
using test::TempDir;

struct CancelFixture {
  TempDir dir;
  FakeToolFolder fakes{dir / "fakes"};
  std::unique_ptr<pipeline::PipelineEngine> engine;

  CancelFixture() {
    SystemPrograms programs;
    programs.which = fakes.add("which").string();
    engine = std::make_unique<pipeline::PipelineEngine>(
        ToolLocator(BundlePaths::forPrefix((dir / "prefix").string()), programs, {(dir / "none/").string()}));
  }
};

std::vector<int> readPids(const fs::path &file) {
  std::vector<int> pids;
  std::istringstream in(test::readFile(file));
  for (int pid; in >> pid;)
    pids.push_back(pid);
  return pids;
}

void waitForFile(const fs::path &file) {
  while (!fs::exists(file) || test::readFile(file).find('\n') == std::string::npos)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void expectEnded(int pid) {
  for (int i = 0; i < 500 && test::processAlive(pid); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(test::processAlive(pid)) << "process " << pid << " survived";
}

TEST(Cancellation, WithoutAProcessOnlyTheFlagIsSet) {
  CancelFixture f;
  f.engine->cancel();
  f.engine->waitForCancellation();
  EXPECT_TRUE(f.engine->isCancelled());
  EXPECT_TRUE(f.engine->stopToken().stop_requested());
  EXPECT_THROW(f.engine->createCurrentProcess({"/bin/true", {}, {}}), ConversionError) << "no new tool after a cancel";
}

TEST(Cancellation, EndsAPipelinesWholeProcessGroup) {
  CancelFixture f;
  fs::path pids = f.dir / "pids";
  ProcessLaunch launch;
  launch.executable = "/bin/bash";
  launch.arguments = {"-c", "sleep 60 & a=$!; sleep 60 & b=$!; echo $a $b > '" + pids.string() + "'; wait"};
  auto process = f.engine->createCurrentProcess(launch);
  process->start();
  // As in a conversion step, the leader is reaped on another thread the
  // moment it dies, possibly before the rest of its group has been signalled.
  auto waiting = std::async(std::launch::async, [&] { return process->wait(); });
  waitForFile(pids);
  f.engine->cancel();
  auto status = waiting.get();
  EXPECT_TRUE(status.signalled);
  EXPECT_EQ(status.terminationStatus, SIGTERM);
  f.engine->waitForCancellation();
  for (int pid : readPids(pids))
    expectEnded(pid);
}

// A helper that left its group and whose parent died is re-parented to the
// subreaper (this test program) and still ended; its sibling of another name is not.
TEST(Cancellation, EndsHelpersThatLeftTheirGroupButNothingElse) {
  ASSERT_TRUE(becomeChildSubreaper());
  CancelFixture f;
  fs::path pids = f.dir / "pids";
  ProcessLaunch launch;
  launch.executable = "/bin/bash";
  launch.arguments = {"-c", "exec >/dev/null 2>&1; setsid bash -c 'exec -a ffmpeg-helper sleep 60' & a=$!; "
                            "setsid sleep 61 & b=$!; "
                            "echo $a $b > '" +
                                pids.string() + "'"};
  auto process = f.engine->createCurrentProcess(launch);
  process->start();
  process->wait();
  waitForFile(pids);
  auto started = readPids(pids);
  ASSERT_EQ(started.size(), 2u);
  f.engine->cancel();
  f.engine->waitForCancellation();
  expectEnded(started[0]);
  EXPECT_TRUE(test::processAlive(started[1])) << "a process not named like a helper was ended";
  ::kill(started[1], SIGKILL);
  for (int pid : started)
    ::waitpid(pid, nullptr, 0); // both are this program's children now
}

TEST(Cancellation, ChildIgnoringSigtermIsKilledAfterTheGracePeriod) {
  CancelFixture f;
  ProcessLaunch launch;
  launch.executable =
      f.fakes.add("ldecod", {{"steps", {{{"ignore_sigterm", true}}, {{"stdout", "ready\n"}}, {{"sleep_ms", 60000}}}}})
          .string();
  auto process = f.engine->createCurrentProcess(launch);
  std::atomic<bool> ready{false};
  process->start([&](std::string_view) { ready = true; }, nullptr);
  while (!ready)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  auto started = std::chrono::steady_clock::now();
  f.engine->cancel();
  auto status = process->wait();
  auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_TRUE(status.signalled);
  EXPECT_EQ(status.terminationStatus, SIGKILL);
  // About 3 s of grace, then SIGKILL: generous bounds, not a timing test.
  EXPECT_GE(waited, std::chrono::milliseconds(2500));
  f.engine->waitForCancellation();
}

// The tree is read from a /proc of the test's making: only root's
// descendants are listed, whatever their names, and a name holding ") " does
// not shift the fields.
TEST(Cancellation, DescendantsAreFoundByParentChainAndCommandLine) {
  TempDir proc;
  struct Entry {
    int pid;
    int parent;
    std::string name;
    std::string commandLine; // NUL-separated arguments
  };
  const Entry entries[] = {
      {100, 1, "kestrova", std::string("kestrova\0--auto-convert", 23)},
      {101, 100, "ffmpeg", std::string("/usr/bin/ffmpeg\0-i\0x", 21)},
      {102, 100, "bash", std::string("bash\0script.sh", 14)},
      {103, 102, "a) S 7 (", std::string("/t/yuv_hstack\0001\0002", 17)},
      {104, 103, "sleep", "sleep"},
      {200, 1, "ffmpeg", "ffmpeg"},             // someone else's
      {201, 200, "ldecod-pipe", "ldecod-pipe"}, // and its child
  };
  for (const auto &e : entries) {
    test::writeFile(proc / std::to_string(e.pid) / "stat",
                    std::to_string(e.pid) + " (" + e.name + ") S " + std::to_string(e.parent) + " 1 1 0");
    test::writeFile(proc / std::to_string(e.pid) / "cmdline", e.commandLine);
  }
  test::writeFile(proc / "self" / "stat", "1 (x) S 0");
  auto found = descendantsMatching(100, kHelperNames, proc.path());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<pid_t>{101, 103}));
}

} // namespace
} // namespace kestrova::tools
