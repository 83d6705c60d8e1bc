#include "tools/Process.h"
#include "fakes/FakeToolFolder.h"
#include "support/TestSupport.h"

#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <mutex>

namespace kestrova::tools {
namespace {
namespace fs = std::filesystem;
using test::FakeToolFolder;
using test::TempDir;

ProcessLaunch bash(const std::string &command) {
  ProcessLaunch launch;
  launch.executable = "/bin/bash";
  launch.arguments = {"-c", command};
  return launch;
}

TEST(Process, ExitCodesAndSignals) {
  struct Row {
    const char *command;
    int status;
    bool signalled;
  };
  const Row rows[] = {
      {"exit 0", 0, false},
      {"exit 3", 3, false},
      {"exit 244", 244, false},
      {"kill -TERM $$", SIGTERM, true},
      {"kill -KILL $$", SIGKILL, true},
  };
  for (const auto &row : rows) {
    auto output = runAndCollect(bash(row.command));
    EXPECT_EQ(output.status.terminationStatus, row.status) << row.command;
    EXPECT_EQ(output.status.signalled, row.signalled) << row.command;
    EXPECT_EQ(output.status.success(), row.status == 0 && !row.signalled);
  }
}

TEST(Process, LargeOutputOnBothStreamsIsReadWhole) {
  // Far beyond a pipe's buffer on both streams at once: a runner that reads
  // one stream to its end before the other would deadlock here.
  auto output =
      runAndCollect(bash("head -c 3000000 /dev/zero | tr '\\0' a; head -c 2000000 /dev/zero | tr '\\0' b >&2"));
  EXPECT_EQ(output.standardOutput.size(), 3000000u);
  EXPECT_EQ(output.standardError.size(), 2000000u);
  EXPECT_EQ(output.standardOutput.find_first_not_of('a'), std::string::npos);
}

TEST(Process, ChunksArriveWhileTheChildRuns) {
  // The child waits for a file that the test writes only after it has seen
  // the first chunk: the run can only finish if delivery is incremental.
  TempDir dir;
  fs::path gate = dir / "gate";
  auto process =
      Process::create(bash("echo first; while [ ! -e '" + gate.string() + "' ]; do sleep 0.01; done; echo second"));
  std::mutex mutex;
  std::string seen;
  auto status = runAndStream(
      *process,
      [&](std::string_view chunk) {
        std::lock_guard lock(mutex);
        seen.append(chunk);
        if (seen.find("first") != std::string::npos)
          test::writeFile(gate, "");
      },
      nullptr);
  EXPECT_TRUE(status.success());
  EXPECT_EQ(seen, "first\nsecond\n");
}

TEST(Process, LaunchFailureThrowsAndNothingRuns) {
  TempDir dir;
  ProcessLaunch launch;
  launch.executable = (dir / "does-not-exist").string();
  auto process = Process::create(launch);
  try {
    process->start();
    FAIL() << "expected a launch error";
  } catch (const LaunchError &error) {
    EXPECT_NE(std::string(error.what()).find("does-not-exist"), std::string::npos);
  }
  EXPECT_FALSE(process->isRunning());
  EXPECT_EQ(process->pid(), 0);
}

TEST(Process, WorkingDirectoryEnvironmentAndDiscardedStreams) {
  TempDir dir;
  FakeToolFolder tools(dir / "tools");
  fs::create_directories(dir / "work");
  ::setenv("KESTROVA_TEST_MARKER", "inherited", 1);
  ProcessLaunch launch;
  launch.executable = tools.add("ldecod", {{"steps", {{{"stdout", "to the void"}}}}}).string();
  launch.arguments = {"-p", "InputFile=a b.h264"};
  launch.workingDirectory = dir / "work";
  launch.standardOutput = StreamMode::discard;
  auto output = runAndCollect(launch);
  ::unsetenv("KESTROVA_TEST_MARKER");
  EXPECT_TRUE(output.status.success());
  EXPECT_EQ(output.standardOutput, "");
  auto calls = tools.calls("ldecod");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args, (std::vector<std::string>{"-p", "InputFile=a b.h264"}));
  EXPECT_TRUE(fs::equivalent(calls[0].cwd, dir / "work"));
  EXPECT_EQ(calls[0].env["KESTROVA_TEST_MARKER"], "inherited");
}

TEST(Process, ChildLeadsItsOwnGroupWithDefaultSigpipe) {
  std::signal(SIGPIPE, SIG_IGN); // as the program does
  auto output = runAndCollect(bash("cut -d' ' -f5 /proc/$$/stat; grep SigIgn /proc/$$/status"));
  std::istringstream lines(output.standardOutput);
  long pgid = 0;
  std::string ignoredLine;
  lines >> pgid;
  std::getline(lines >> std::ws, ignoredLine);
  unsigned long long ignoredMask = std::stoull(ignoredLine.substr(ignoredLine.find(':') + 1), nullptr, 16);
  EXPECT_EQ(ignoredMask & (1ULL << (SIGPIPE - 1)), 0u) << "SIGPIPE must not stay ignored in children";
  EXPECT_NE(pgid, static_cast<long>(::getpgrp()));
}

TEST(Process, SignalsAfterTheExitReachNobody) {
  auto process = Process::create(bash("exit 0"));
  process->start();
  EXPECT_TRUE(process->wait().success());
  EXPECT_FALSE(process->isRunning());
  // Reaped: the pid may already belong to someone else, so these must be no-ops.
  process->terminate();
  process->signalGroup(SIGKILL);
  EXPECT_TRUE(process->wait().success()) << "wait stays idempotent";
}

TEST(Process, DestroyingARunningProcessEndsItsGroup) {
  TempDir dir;
  pid_t pid = 0;
  {
    auto process = Process::create(bash("sleep 30 & echo $! > '" + (dir / "child").string() + "'; wait"));
    process->start();
    pid = process->pid();
    while (!fs::exists(dir / "child") || test::readFile(dir / "child").empty())
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_t grandchild = std::stoi(test::readFile(dir / "child"));
  EXPECT_FALSE(test::processAlive(pid));
  // The grandchild was killed with the group; it may linger as a zombie of
  // init for a moment, so wait until it is gone.
  for (int i = 0; i < 200 && test::processAlive(grandchild); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(test::processAlive(grandchild));
}

} // namespace
} // namespace kestrova::tools
