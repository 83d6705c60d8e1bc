// The progress a Blu-ray 3D disc's conversion to Vision Pro shows while it
// runs, as the command line prints it (the window gets the same values):
// recorded against the clock and the encoder's own picture count.
#include "RealTools.h"
#include "Validator.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <regex>

namespace kestrova::bluray::test {
namespace {

namespace fs = std::filesystem;
using mvhevc::test::quote;
using mvhevc::test::run;
using Clock = std::chrono::steady_clock;

constexpr int kRepeats = 8; ///< clip24 eight times over: 192 pairs, eight seconds of film

/// A disc of clip24's views played eight times, made once into the build tree.
fs::path longerDisc(const RealTools &tools, const fs::path &clips) {
  const fs::path clip = repeatedClip(tools, clips, kRepeats, kRepeats, 1000), disc = clip.parent_path() / "disc";
  if (!fs::exists(disc / "BDMV/PLAYLIST/00800.mpls")) {
    const auto made =
        run("cd " + quote(clip.parent_path().string()) + " && " + quote((clips / "make-disc.sh").string()) + " " +
            quote(tools.tsmuxer.parent_path().string()) + " " + quote(clip.filename().string()) + " . 2>&1");
    EXPECT_EQ(made.status, 0) << made.out;
  }
  return disc;
}

/// One line of the program's output and when it came.
struct Timed {
  double seconds;
  std::string line;
};

std::vector<Timed> recordRun(const std::string &commandLine) {
  std::vector<Timed> lines;
  const auto start = Clock::now();
  std::unique_ptr<FILE, int (*)(FILE *)> pipe(::popen(commandLine.c_str(), "r"), ::pclose);
  if (!pipe)
    return lines;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe.get())) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n')
      line.pop_back();
    lines.push_back({std::chrono::duration<double>(Clock::now() - start).count(), line});
  }
  return lines;
}

TEST(ProgressRun, BlurayToVisionProRisesWithThePicturesToTheEnd) {
  std::string whyNot;
  std::optional<RealTools> tools;
  std::optional<fs::path> clips;
  if (!findRealSetup(tools, clips, whyNot, {.discImages = true}))
    GTEST_SKIP() << whyNot;
  const fs::path disc = longerDisc(*tools, *clips);
  kestrova::test::TempDir dir;
  const fs::path program = installProgram(dir / "install", *tools, Variant::fifo);
  fs::create_directories(dir / "scratch");
  const auto lines =
      recordRun("env HOME=" + quote((dir / "home").string()) + " XDG_CONFIG_HOME=" + quote((dir / "config").string()) +
                " TMPDIR=" + quote((dir / "scratch").string()) + " LC_ALL=C " + quote(program.string()) + " --input " +
                quote(disc.string()) + " --auto-convert --target vision-pro --quality balanced --output " +
                quote((dir / "out").string()) + " 2>&1");
  std::string all;
  for (const auto &l : lines)
    all += l.line + "\n";
  ASSERT_TRUE(fs::exists(dir / "out/disc.mov")) << all;
  ASSERT_NE(all.find("in one encode"), std::string::npos) << all;

  const std::regex percentLine(R"(\] \[[A-Za-z ]+\] (\d+)%$)"), pictureLine(R"(Frame (\d+)/(\d+) )");
  std::vector<std::pair<double, int>> shown; // when, percent
  int last = 0;
  for (const auto &l : lines) {
    std::smatch m;
    if (std::regex_search(l.line, m, percentLine)) {
      const int percent = std::stoi(m[1]);
      EXPECT_GE(percent, last) << "went back at " << l.seconds << " s: " << l.line;
      last = percent;
      shown.emplace_back(l.seconds, percent);
    } else if (std::regex_search(l.line, m, pictureLine)) {
      // The value follows the encoder's pictures (reading the disc is a
      // sliver of the run, and the console prints every fifth percent).
      const double pictures = 100.0 * std::stod(m[1]) / std::stod(m[2]);
      EXPECT_NEAR(last, pictures, 8.0) << l.line << " at " << l.seconds << " s";
    }
  }
  ASSERT_GE(shown.size(), 10u) << all;
  EXPECT_EQ(shown.back().second, 100) << all;
  const double runTime = lines.back().seconds;
  double longest = shown.front().first;
  for (std::size_t i = 1; i < shown.size(); ++i)
    longest = std::max(longest, shown[i].first - shown[i - 1].first);
  longest = std::max(longest, runTime - shown.back().first);
  std::printf("run %.1f s, %zu values, longest hold %.1f s\n", runTime, shown.size(), longest);
  EXPECT_LE(longest, runTime / 10) << "a plateau of " << longest << " s in a run of " << runTime << " s\n" << all;
}

} // namespace
} // namespace kestrova::bluray::test
