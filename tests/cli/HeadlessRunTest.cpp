// Runs the built program the way a user does and checks what it prints.
#include "support/TestSupport.h"
#include "tools/Process.h"

#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace kestrova {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

struct RunResult {
  int status;
  std::vector<std::string> lines; ///< standard output
  std::string errors;             ///< standard error
};

// Runs kestrova with HOME and XDG_CONFIG_HOME inside `dir`, so stored
// settings and the default output folder are the test's own, and without
// the environment variables named in `unset`.
RunResult runKestrova(const TempDir &dir, const std::vector<std::string> &arguments,
                      const std::vector<std::string> &unset = {}) {
  tools::ProcessLaunch launch;
  launch.executable = "/usr/bin/env";
  for (const auto &name : unset)
    launch.arguments.insert(launch.arguments.end(), {"-u", name});
  launch.arguments.insert(launch.arguments.end(),
                          {"HOME=" + (dir / "home").string(), "XDG_CONFIG_HOME=" + (dir / "config").string(),
                           "LC_ALL=C", (test::buildDir() / "bin/kestrova").string()});
  launch.arguments.insert(launch.arguments.end(), arguments.begin(), arguments.end());
  launch.workingDirectory = dir.path();
  auto output = tools::runAndCollect(launch);
  RunResult run{output.status.terminationStatus, {}, output.standardError};
  std::istringstream in(output.standardOutput);
  for (std::string line; std::getline(in, line);)
    run.lines.push_back(line);
  return run;
}

std::string stripTime(const std::string &line) {
  static const std::regex stamp(R"(^\[\d\d:\d\d:\d\d\] )");
  EXPECT_TRUE(std::regex_search(line, stamp)) << line;
  return std::regex_replace(line, stamp, "");
}

TEST(HeadlessRun, MissingInputPrintsUsageOnly) {
  const std::vector<std::vector<std::string>> cases = {{"--auto-convert"}, {"--auto-convert", "--input"}};
  for (const auto &arguments : cases) {
    TempDir dir;
    RunResult run = runKestrova(dir, arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.lines, std::vector<std::string>{"Usage: Kestrova --input <file> --auto-convert [--output <dir>]"});
  }
}

TEST(HeadlessRun, HelpAndVersionAnswerBeforeAnyWork) {
  struct Row {
    std::vector<std::string> arguments;
    int status;
    std::string firstLine;
  };
  const std::string usage = "Usage: kestrova [--input FILE] [--output DIR]";
  const std::string version = "Kestrova 1.0 (Build 134)";
  const Row rows[] = {
      {{"--help"}, 0, usage},
      {{"-h"}, 0, usage},
      {{"--version", "--help"}, 0, version},
      {{"--input", "movie.m2ts", "--auto-convert", "--version"}, 0, version},
      // Right after --input it is a file name, and the conversion runs.
      {{"--input", "--help", "--auto-convert"}, 1, "=== Kestrova CLI (Build 134) ==="},
  };
  for (const auto &row : rows) {
    TempDir dir;
    RunResult run = runKestrova(dir, row.arguments, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
    EXPECT_EQ(run.status, row.status) << row.arguments.front();
    ASSERT_FALSE(run.lines.empty()) << run.errors;
    EXPECT_EQ(run.lines.front(), row.firstLine);
    EXPECT_EQ(fs::exists(dir / "home"), row.status != 0) << "only a conversion makes the output folder";
  }
}

TEST(HeadlessRun, WithoutAutoConvertOrADisplayItSaysHowToRunHeadless) {
  // With the window built this is the missing display; without it, the
  // build that has no window. Either way the user learns the headless form.
  TempDir dir;
  RunResult run = runKestrova(dir, {"--input", "movie.mkv"}, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.errors.find("--input <file> --auto-convert"), std::string::npos) << run.errors;
  EXPECT_FALSE(std::filesystem::exists(dir / "home")) << "nothing is created for a window that never opened";
}

TEST(HeadlessRun, UnreadableInputIsNamedAfterTheBanner) {
  TempDir dir;
  fs::create_directories(dir / "a-folder.m2ts");
  struct Row {
    std::string input;
    std::string reason;
  };
  const Row rows[] = {
      {"missing.m2ts", "No such file or directory"},
      {"a-folder.m2ts", "it is a directory"},
  };
  for (const auto &row : rows) {
    RunResult run = runKestrova(dir, {"--input", row.input, "--auto-convert", "--output", "out"});
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.lines.size(), 5u);
    EXPECT_EQ(run.lines[0], "=== Kestrova CLI (Build 134) ===");
    EXPECT_EQ(run.lines[1], "Input:   " + row.input);
    EXPECT_EQ(run.lines[2], "Output: " + (dir / "out").string());
    EXPECT_EQ(run.lines[3], "Quality: High Quality, Target: Apple Vision Pro (MV-HEVC)");
    EXPECT_EQ(stripTime(run.lines[4]),
              "\u274C Pipeline failed: Cannot read input file \"" + (dir / row.input).string() + "\": " + row.reason);
  }
}

TEST(HeadlessRun, BannerShowsStoredTextsAndTheDefaultFolder) {
  TempDir dir;
  test::writeFile(dir / "config/kestrova/settings.json",
                  R"json({"qualityPreset": "Smaller File", "outputTarget": "SBS 3D (MKV)"})json");
  RunResult run = runKestrova(dir, {"--auto-convert", "--input", "none.mkv", "--output"});
  ASSERT_GE(run.lines.size(), 4u);
  EXPECT_EQ(run.lines[2], "Output: " + (dir / "home/Desktop/Kestrova Output").string());
  EXPECT_EQ(run.lines[3], "Quality: Smaller File, Target: SBS 3D (MKV)");
  EXPECT_TRUE(fs::is_directory(dir / "home/Desktop/Kestrova Output"));
}

TEST(HeadlessRun, UncreatableOutputFolderFailsTheConversion) {
  TempDir dir;
  test::writeFile(dir / "source.m2ts", "not really a stream");
  test::writeFile(dir / "blocker", "a file where a folder should be");
  RunResult run = runKestrova(dir, {"--auto-convert", "--input", "source.m2ts", "--output", "blocker/out"});
  EXPECT_EQ(run.status, 1);
  ASSERT_FALSE(run.lines.empty());
  EXPECT_TRUE(stripTime(run.lines.back()).starts_with("\u274C Pipeline failed: ")) << run.lines.back();
  EXPECT_NE(run.lines.back().find("blocker/out"), std::string::npos) << run.lines.back();
}

} // namespace
} // namespace kestrova
