// Runs the built program the way a user does and checks what it prints.
#include "support/RealMedia.h"
#include "support/TestSupport.h"
#include "tools/Process.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <regex>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrova {
namespace {
namespace fs = std::filesystem;
using test::shellQuoted;
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

int shell(const std::string &command) {
  return tools::runAndCollect({"/bin/sh", {"-c", command}, {}}).status.terminationStatus;
}

// A side-by-side clip (by its aspect ratio) of Debian's ffmpeg.
void makeSideBySideClip(const fs::path &clip, const std::string &size, int seconds) {
  ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i testsrc2=size=" + size + ":rate=24 -f lavfi -i sine -t " +
                  std::to_string(seconds) + " -c:v libx264 -pix_fmt yuv420p -c:a aac " + shellQuoted(clip.string())),
            0);
}

void useTarget(const TempDir &dir, const std::string &target) {
  test::writeFile(dir / "config/kestrova/settings.json", R"({"outputTarget": ")" + target + R"("})");
}

std::vector<std::string> folderContents(const fs::path &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A wrong command line does no work: status 2, the word on standard error,
// nothing on standard output and no folder made. (Which words are wrong is
// the parser's table.)
// A misspelt option, or options that cannot go together, stop the run
// before anything is converted or created.
TEST(HeadlessRun, WrongCommandLineIsRefusedNamingTheWord) {
  struct Row {
    std::string option, named;
  };
  for (const Row &row : {Row{"--outptu", "\"--outptu\""}, Row{"--remote-only", "--hosts"}}) {
    TempDir dir;
    RunResult run = runKestrova(dir, {row.option, "x", "--input", "a.m2ts", "--auto-convert"},
                                {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
    EXPECT_EQ(run.status, 2) << row.option;
    EXPECT_NE(run.errors.find(row.named), std::string::npos) << run.errors;
    EXPECT_FALSE(fs::exists(dir / "home")) << row.option;
  }
}

TEST(HeadlessRun, WithoutAutoConvertOrADisplayItSaysHowToRunHeadless) {
  // With the window built this is the missing display; without it, the
  // build that has no window. Either way the user learns the headless form.
  TempDir dir;
  RunResult run = runKestrova(dir, {"--input", "movie.mkv"}, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.errors.find("--auto-convert"), std::string::npos) << run.errors;
  EXPECT_FALSE(std::filesystem::exists(dir / "home")) << "nothing is created for a window that never opened";
}

TEST(HeadlessRun, BadSourcesAreNamedForWhatTheyAre) {
  TempDir dir;
  // Fixed noise: fresh random bytes now and then look to ffprobe like a
  // subtitle stream, which is a different complaint.
  std::mt19937 noise(20261206);
  std::string bytes(200000, '\0');
  for (auto &byte : bytes)
    byte = static_cast<char>(noise() & 0xff);
  test::writeFile(dir / "random.m2ts", bytes);
  test::writeFile(dir / "empty.m2ts", "");
  ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=24 -t 1 -c:v libx264 -f mpegts " +
                  shellQuoted((dir / "flat.m2ts").string())),
            0);
  ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i sine -t 1 -c:a aac " + shellQuoted((dir / "sound.mkv").string())), 0);
  ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=24 -t 1 -c:v libx264 " +
                  shellQuoted((dir / "flat.mp4").string())),
            0);
  // Side by side, but MVHEVCConverter refuses the odd view width: its own reason reaches the log.
  makeSideBySideClip(dir / "odd.mp4", "386x108", 1);
  struct Row {
    std::string input;
    std::string message;
  };
  fs::create_directories(dir / "a-folder.m2ts");
  fs::create_directories(dir / "out");
  ASSERT_EQ(::mkfifo((dir / "a-fifo.m2ts").c_str(), 0600), 0);
  const Row rows[] = {
      {"missing.m2ts", "Cannot read input file \"" + (dir / "missing.m2ts").string() + "\": No such file"},
      {"a-folder.m2ts", "no BDMV folder in \"" + (dir / "a-folder.m2ts").string() + "\""},
      {"a-fifo.m2ts", "it is a named pipe (FIFO)"},
      {"odd.mp4", "] MVHEVCConverter: error: a 386x108 picture does not split into two 4:2:0 halves"},
      {"random.m2ts", "is not a video file ffprobe can read (" + (dir / "random.m2ts").string() + ": Invalid data"},
      {"empty.m2ts", "is not a video file ffprobe can read"},
      {"flat.m2ts", "no MVC (3D) view found in \"" + (dir / "flat.m2ts").string() + "\""},
      {"sound.mkv", "no video stream in"},
      {"flat.mp4", "no 3D video found in"},
  };
  for (const auto &row : rows) {
    RunResult run = runKestrova(dir, {"--input", row.input, "--auto-convert", "--output", "out"});
    EXPECT_EQ(run.status, 1) << row.input;
    ASSERT_FALSE(run.lines.empty());
    std::string output;
    for (const auto &line : run.lines)
      output += line + "\n";
    EXPECT_NE(output.find(row.message), std::string::npos) << output;
    EXPECT_EQ(run.lines.back().find("tsmuxer"), std::string::npos) << run.lines.back();
    EXPECT_TRUE(folderContents(dir / "out").empty()) << row.input;
  }
}

// Neither target replaces a file, or a symbolic link, of its output's name
// unless told to; refused, the run does no work.
TEST(HeadlessRun, ExistingOutputsAreKeptUnlessOverwriteIsGiven) {
  TempDir dir;
  makeSideBySideClip(dir / "clip.mp4", "384x108", 1);
  fs::create_directories(dir / "out");
  test::writeFile(dir / "out/clip_SBS.mp4", "the user's file");
  fs::create_symlink("elsewhere.mov", dir / "out/clip_MV-HEVC.mov");
  struct Row {
    std::string target;
    std::string existing;
  };
  const Row rows[] = {{"SBS 3D (MKV)", "clip_SBS.mp4"}, {"Apple Vision Pro (MV-HEVC)", "clip_MV-HEVC.mov"}};
  for (const auto &row : rows) {
    useTarget(dir, row.target);
    RunResult run = runKestrova(dir, {"--input", "clip.mp4", "--auto-convert", "--output", "out"});
    EXPECT_EQ(run.status, 1);
    ASSERT_FALSE(run.lines.empty());
    EXPECT_NE(run.lines.back().find("\"" + row.existing + "\" already exists in"), std::string::npos)
        << run.lines.back();
    EXPECT_EQ(folderContents(dir / "out"), (std::vector<std::string>{"clip_MV-HEVC.mov", "clip_SBS.mp4"}));
  }
  EXPECT_EQ(test::readFile(dir / "out/clip_SBS.mp4"), "the user's file");
  EXPECT_TRUE(fs::is_symlink(dir / "out/clip_MV-HEVC.mov"));

  useTarget(dir, "SBS 3D (MKV)");
  RunResult run = runKestrova(dir, {"--input", "clip.mp4", "--auto-convert", "--output", "out", "--overwrite"});
  EXPECT_EQ(run.status, 0) << (run.lines.empty() ? "" : run.lines.back());
  EXPECT_EQ(test::readFile(dir / "out/clip_SBS.mp4"), test::readFile(dir / "clip.mp4"));
}

// A file system that fills up leaves nothing under a final name, no
// temporary file and no work folder, and the message says so.
TEST(HeadlessRun, FullFileSystemIsReportedAndLeavesNothing) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "mounting a small tmpfs needs root";
  TempDir dir;
  makeSideBySideClip(dir / "clip.mp4", "768x216", 4);
  ASSERT_GT(fs::file_size(dir / "clip.mp4"), 256u * 1024);
  fs::create_directories(dir / "small");
  ASSERT_EQ(::mount("tmpfs", (dir / "small").c_str(), "tmpfs", 0, "size=256k"), 0) << std::strerror(errno);
  useTarget(dir, "SBS 3D (MKV)");
  RunResult run = runKestrova(dir, {"--input", "clip.mp4", "--auto-convert", "--output", "small"});
  auto left = folderContents(dir / "small");
  ::umount((dir / "small").c_str());
  EXPECT_EQ(run.status, 1);
  ASSERT_FALSE(run.lines.empty());
  EXPECT_NE(run.lines.back().find("not enough space on " + (dir / "small").string()), std::string::npos)
      << run.lines.back();
  EXPECT_TRUE(left.empty()) << left.front();
}

// Several sources run as a batch: one status line each, a closing line, and
// status 0 only when all were converted.
TEST(HeadlessRun, SeveralSourcesRunAsABatch) {
  TempDir dir;
  makeSideBySideClip(dir / "one.mp4", "384x108", 1);
  makeSideBySideClip(dir / "two.mp4", "384x108", 1);
  useTarget(dir, "SBS 3D (MKV)");
  struct Row {
    std::vector<std::string> arguments;
    int status;
    std::vector<std::string> statusLines; // in order
  };
  const Row rows[] = {
      {{"one.mp4", "--input", "two.mp4"},
       0,
       {"\u2705 Conversion complete: OUT/one_SBS.mp4", "\u2705 Conversion complete: OUT/two_SBS.mp4",
        "Batch finished: 2 of 2 files converted"}},
      {{"one.mp4", "missing.mp4", "two.mp4"},
       1,
       {"\u2705 Conversion complete: OUT/one_SBS.mp4", "\u274C Pipeline failed: Cannot read input file",
        "\u2705 Conversion complete: OUT/two_SBS.mp4", "Batch finished: 2 of 3 files converted"}},
  };
  for (const auto &row : rows) {
    fs::remove_all(dir / "out");
    std::vector<std::string> arguments{"--auto-convert", "--output", "out"};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    RunResult run = runKestrova(dir, arguments);
    EXPECT_EQ(run.status, row.status);
    std::vector<std::string> seen;
    for (const auto &line : run.lines)
      for (const auto &expected : row.statusLines) {
        std::string wanted = std::regex_replace(expected, std::regex("OUT"), (dir / "out").string());
        if (line.find(wanted) != std::string::npos)
          seen.push_back(expected);
      }
    EXPECT_EQ(seen, row.statusLines) << ::testing::PrintToString(run.lines);
    EXPECT_EQ(test::readFile(dir / "out/two_SBS.mp4"), test::readFile(dir / "two.mp4"));
  }
}

// A layout the source cannot be read as, or a cut into chunks its road does
// not make, fails that source with words saying so, and nothing is written;
// swapped eyes are encoded into a new file.
TEST(HeadlessRun, LayoutOptionsReachTheConversion) {
  TempDir dir;
  makeSideBySideClip(dir / "clip.mp4", "384x108", 1);
  struct Row {
    std::vector<std::string> options;
    std::string message; ///< empty: converted
  };
  const Row rows[] = {
      {{"--layout", "frame-alternate"}, "frame alternate"},
      {{"--layout", "mvc"}, "holds no MVC (3D) view"},
      {{"--cut-only"}, "--cut-only needs"}, // rather than a whole conversion here
      {{"--swap-eyes"}, ""},
  };
  for (const auto &row : rows) {
    std::vector<std::string> arguments{"--auto-convert", "clip.mp4", "--target", "sbs", "--output", "out"};
    arguments.insert(arguments.end(), row.options.begin(), row.options.end());
    RunResult run = runKestrova(dir, arguments);
    EXPECT_EQ(run.status, row.message.empty() ? 0 : 1);
    ASSERT_FALSE(run.lines.empty());
    if (row.message.empty()) {
      EXPECT_TRUE(fs::exists(dir / "out/clip_SBS.mkv")) << run.lines.back();
      continue;
    }
    EXPECT_NE(run.lines.back().find(row.message), std::string::npos) << run.lines.back();
    EXPECT_TRUE(folderContents(dir / "out").empty());
  }
}

// A Blu-ray 3D stream to Vision Pro: only the MV-HEVC file, unless the
// side-by-side file is asked for.
TEST(HeadlessRun, VisionProKeepsTheSideBySideFileOnlyWhenAsked) {
  auto media = test::referenceMedia();
  if (!media || !test::realTool("tsmuxer")) {
    if (std::getenv("CI"))
      ADD_FAILURE() << "CI has the reference clips and the real tsMuxeR";
    GTEST_SKIP() << "needs the reference clips and the real tsMuxeR";
  }
  for (bool keep : {false, true}) {
    TempDir dir;
    fs::copy_file(*media / "bluray/clip24.m2ts", dir / "clip24.m2ts");
    std::vector<std::string> arguments{"--auto-convert", "clip24.m2ts", "--output", "out"};
    if (keep)
      arguments.push_back("--keep-sbs");
    RunResult run = runKestrova(dir, arguments);
    EXPECT_EQ(run.status, 0) << (run.lines.empty() ? run.errors : run.lines.back());
    EXPECT_EQ(folderContents(dir / "out"), (keep ? std::vector<std::string>{"clip24.mov", "clip24_SBS.mov"}
                                                 : std::vector<std::string>{"clip24.mov"}));
  }
}

} // namespace
} // namespace kestrova
