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

// An engine whose pkill is a recording double: the real pkill never runs.
struct CancelFixture {
  TempDir dir;
  FakeToolFolder fakes{dir / "fakes"};
  std::unique_ptr<pipeline::PipelineEngine> engine;

  CancelFixture() {
    SystemPrograms programs;
    programs.pkill = fakes.add("pkill").string();
    programs.which = fakes.add("which").string();
    engine = std::make_unique<pipeline::PipelineEngine>(
        ToolLocator(BundlePaths::forPrefix((dir / "prefix").string()), programs, {(dir / "none/").string()}));
  }

  std::vector<std::vector<std::string>> pkillRuns() const {
    std::vector<std::vector<std::string>> runs;
    for (const auto &call : fakes.calls("pkill"))
      runs.push_back(call.args);
    return runs;
  }
};

const std::vector<std::vector<std::string>> kExpectedPkillRuns = {
    {"-f", "ldecod-pipe"}, {"-f", "yuv_hstack"}, {"-f", "MVHEVCConverter"}, {"-f", "ffmpeg"}};

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

TEST(Cancellation, WithoutAProcessOnlyTheFlagIsSet) {
  CancelFixture f;
  f.engine->cancel();
  f.engine->waitForCancellation();
  EXPECT_TRUE(f.engine->isCancelled());
  EXPECT_TRUE(f.engine->stopToken().stop_requested());
  EXPECT_TRUE(f.pkillRuns().empty());
}

TEST(Cancellation, EndsAPipelinesWholeProcessGroupThenRunsPkill) {
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
  for (int pid : readPids(pids)) {
    for (int i = 0; i < 300 && test::processAlive(pid); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(test::processAlive(pid)) << "grandchild " << pid << " survived";
  }
  EXPECT_EQ(f.pkillRuns(), kExpectedPkillRuns);
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
  EXPECT_LE(waited, std::chrono::milliseconds(8000));
  f.engine->waitForCancellation();
  EXPECT_EQ(f.pkillRuns(), kExpectedPkillRuns);
}

TEST(Cancellation, FinishedProcessIsNotSignalledButPkillStillRuns) {
  CancelFixture f;
  ProcessLaunch launch;
  launch.executable = "/bin/true";
  auto process = f.engine->createCurrentProcess(launch);
  process->start();
  process->wait();
  f.engine->cancel();
  f.engine->waitForCancellation();
  EXPECT_EQ(f.pkillRuns(), kExpectedPkillRuns);
}

TEST(Cancellation, PkillThatCannotStartIsIgnored) {
  TempDir dir;
  SystemPrograms programs;
  programs.pkill = (dir / "no-such-pkill").string();
  ProcessLaunch launch;
  launch.executable = "/bin/sleep";
  launch.arguments = {"30"};
  auto process = Process::create(launch);
  process->start();
  signalCancellation(*process);
  EXPECT_NO_THROW(finishCancellation(process, programs, 30, std::chrono::milliseconds(10)));
  EXPECT_TRUE(process->wait().signalled);
}

} // namespace
} // namespace kestrova::tools
