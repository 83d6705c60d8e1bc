#include "tools/ProcessPipeline.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kestrova::tools {
namespace {
namespace fs = std::filesystem;

ProcessLaunch shell(const std::string &command) {
  return {"/bin/sh", {"-c", command}, {}, {}, {}};
}

struct StageRow {
  std::string command;
  std::optional<std::size_t> input;
};

struct Ran {
  PipelineOutcome outcome;
  std::vector<std::vector<std::string>> output; // per stage, the lines of an unread standard output
};

Ran runStages(const std::vector<StageRow> &rows) {
  Ran run;
  run.output.resize(rows.size());
  ProcessPipeline pipeline;
  for (std::size_t i = 0; i < rows.size(); ++i)
    pipeline.add({"stage" + std::to_string(i),
                  shell(rows[i].command),
                  rows[i].input,
                  [&run, i](std::string_view line) { run.output[i].emplace_back(line); },
                  {}});
  run.outcome = pipeline.run();
  return run;
}

TEST(ProcessPipeline, StatusPerStageAndTheStageToBlame) {
  using Lines = std::vector<std::string>;
  struct Row {
    std::string what;
    std::vector<StageRow> stages;
    std::optional<std::size_t> blamed;
    std::vector<std::size_t> lostReader;
    std::map<std::size_t, Lines> output;
    std::string blamedSaid;
  };
  const std::vector<Row> rows = {
      {"all succeed",
       {{"printf 'a\\nb\\n'", {}}, {"tr a-z A-Z", 0}, {"sed s/^/=/", 1}},
       {},
       {},
       {{2, {"=A", "=B"}}},
       ""},
      {"middle stage fails: it is blamed, not the writer that lost it nor the reader cut short",
       {{"yes", {}}, {"head -c 100 >/dev/null; echo 'bad input' >&2; exit 3", 0}, {"cat", 1}},
       1,
       {0},
       {{2, {}}},
       "bad input"},
      {"a reader that stops early on purpose leaves its writer's SIGPIPE unblamed",
       {{"yes", {}}, {"head -n 2", 0}},
       {},
       {0},
       {{1, {"y", "y"}}},
       ""},
      {"a tee hands every reader every byte",
       {{"seq 1 20000", {}}, {"tail -n 1", 0}, {"wc -l", 0}},
       {},
       {},
       {{1, {"20000"}}, {2, {"20000"}}},
       ""},
      {"a tee reader that fails ends the copy and is blamed",
       {{"yes", {}}, {"cat >/dev/null", 0}, {"head -c 10 >/dev/null; echo 'no space' >&2; exit 4", 0}},
       2,
       {0},
       {},
       "no space"},
      {"first stage fails: readers that then see their input end early are not blamed",
       {{"echo 'cannot open' >&2; exit 2", {}}, {"read x || { echo short >&2; exit 5; }", 0}},
       0,
       {},
       {},
       "cannot open"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    Ran run = runStages(row.stages);
    const auto &outcome = run.outcome;
    ASSERT_EQ(outcome.stages.size(), row.stages.size());
    EXPECT_FALSE(outcome.cancelled);
    const StageOutcome *blamed = outcome.blamed();
    EXPECT_EQ(outcome.success(), !row.blamed);
    ASSERT_EQ(blamed != nullptr, row.blamed.has_value());
    if (blamed) {
      EXPECT_EQ(blamed->name, "stage" + std::to_string(*row.blamed));
      EXPECT_EQ(blamed->lastLines, Lines{row.blamedSaid});
    }
    for (std::size_t i : row.lostReader)
      EXPECT_TRUE(outcome.stages[i].lostItsReader()) << "stage " << i;
    for (const auto &[stage, lines] : row.output)
      EXPECT_EQ(run.output[stage], lines) << "stage " << stage;
  }
}

TEST(ProcessPipeline, AStageThatCannotStartLeavesNothingRunning) {
  ProcessPipeline pipeline;
  pipeline.add({"writer", shell("exec sleep 60"), {}, {}, {}});
  pipeline.add({"missing", {"/nonexistent/tool", {}, {}, {}, {}}, 0, {}, {}});
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(pipeline.run(), LaunchError);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << "the writer was not ended";
}

// Every process in this PID namespace but the calling one, once the dead are reaped.
std::vector<std::string> othersInNamespace() {
  while (::waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  std::vector<std::string> others;
  for (const auto &entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") == std::string::npos && std::stoi(name) != ::getpid())
      others.push_back(name);
  }
  return others;
}

// Cancelling kills, so it runs in a PID namespace of its own: this test
// starts itself again as the namespace's first process.
TEST(ProcessPipeline, CancelEndsEveryStageAndLeavesNoProcess) {
  if (!std::getenv("KESTROVA_PIPELINE_NAMESPACE")) {
    if (::geteuid() != 0 ||
        !runAndCollect({"/usr/bin/unshare", {"-p", "-f", "--mount-proc", "true"}, {}, {}, {}}).status.success())
      GTEST_SKIP() << "needs root and unshare -p (a PID namespace keeps the kills from reaching other processes)";
    ::setenv("KESTROVA_PIPELINE_NAMESPACE", "1", 1);
    auto inside = runAndCollect({"/usr/bin/unshare",
                                 {"-p", "-f", "--mount-proc", fs::read_symlink("/proc/self/exe").string(),
                                  "--gtest_filter=ProcessPipeline.CancelEndsEveryStageAndLeavesNoProcess"},
                                 {},
                                 {},
                                 {}});
    ::unsetenv("KESTROVA_PIPELINE_NAMESPACE");
    EXPECT_TRUE(inside.status.success()) << inside.standardOutput << inside.standardError;
    return;
  }
  std::stop_source stop;
  ProcessPipeline pipeline;
  pipeline.setGracePeriod(std::chrono::milliseconds(300));
  // A writer with a helper of its own in its group, and a reader that
  // ignores SIGTERM, so that only SIGKILL after the grace period ends it.
  pipeline.add({"writer", shell("sleep 600 & exec yes"), {}, {}, {}});
  pipeline.add({"stubborn",
                shell("trap '' TERM; echo ready >&2; cat >/dev/null; sleep 600"),
                0,
                {},
                [&stop](std::string_view line) {
                  if (line == "ready")
                    stop.request_stop();
                }});
  const auto outcome = pipeline.run(stop.get_token());
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_FALSE(outcome.success());
  EXPECT_EQ(outcome.stages[1].status.terminationStatus, SIGKILL);
  std::vector<std::string> left;
  for (int i = 0; i < 100 && !(left = othersInNamespace()).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(left, std::vector<std::string>{}) << "processes left after the cancel";
}

} // namespace
} // namespace kestrova::tools
