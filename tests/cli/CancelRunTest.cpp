// Ctrl-C through the real program, inside a PID namespace of the test's own
// (so nothing outside it can be reached): every process of the conversion
// ends, no work folder and no output stay, and a process merely named like a
// helper, started beside the run, survives.
#include "support/RealMedia.h"
#include "support/TestSupport.h"
#include "tools/Process.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace kestrova {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

std::string shellQuoted(const std::string &text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

tools::CollectedOutput shell(const std::string &command) {
  return tools::runAndCollect({"/bin/sh", {"-c", command}, {}});
}

bool namespacesAvailable() {
  return ::geteuid() == 0 && shell("unshare -p -f --mount-proc true").status.success();
}

// Runs inside the namespace as its first process: starts the decoy and the
// conversion, interrupts the conversion once its log shows `marker`, then
// reports the exit status, every process still there and whether the decoy lives.
std::string cancelScript(const TempDir &dir, const std::string &source, const std::string &marker, int sig,
                         const std::string &more) {
  const std::string log = shellQuoted((dir / "run.log").string());
  return "cd " + shellQuoted(dir.path().string()) +
         "\n(exec -a ffmpeg-something sleep 60) & decoy=$!\n"
         "HOME=home XDG_CONFIG_HOME= LC_ALL=C " +
         shellQuoted((test::buildDir() / "bin/kestrova").string()) + " --input " + shellQuoted(source) + " " + more +
         " --auto-convert --output out > " + log + " 2>&1 & run=$!\n" + "i=0; until grep -q " + shellQuoted(marker) +
         " " + log +
         " || [ $i -ge 3000 ]; do sleep 0.1; i=$((i+1)); done\n"
         "kill -" +
         std::to_string(sig) +
         " $run; wait $run; echo status=$?\n"
         // builtins only: the listing itself starts no process
         "for p in /proc/[0-9]*; do n=${p#/proc/}; [ $n = 1 ] || [ $n = $decoy ] || "
         "{ IFS= read -r -d '' first < $p/cmdline; echo \"left=$n $first\"; }; done\n"
         "kill -0 $decoy && echo decoy=alive; kill $decoy\n";
}

TEST(CancelRun, InterruptEndsEveryStepsProcessesAndLeavesNothing) {
  if (!namespacesAvailable())
    GTEST_SKIP() << "needs root and unshare -p (a PID namespace keeps the test from reaching other processes)";
  struct Row {
    std::string what;
    std::string makeSource; // a shell command writing SOURCE
    std::string source;
    std::string marker; // a log text seen while the step runs
    int signal;
    std::string settings = R"json("outputTarget": "Apple Vision Pro (MV-HEVC)")json";
    std::string more = {};         // further sources: a batch, stopped in its first file
    std::string logged = "status"; // a text the run's output holds
  };
  const std::string clip = "ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x540:rate=24 -f lavfi -i sine -t 10 "
                           "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac ";
  std::vector<Row> rows = {
      {"MV-HEVC conversion", clip + "sbs.mp4", "sbs.mp4", "[convertingMVHEVC]", SIGINT},
      {"remux of a Matroska source", clip + "sbs.mkv", "sbs.mkv", "Remuxing MKV", SIGTERM},
      {"batch", clip + "sbs.mp4 && cp sbs.mp4 two.mp4", "sbs.mp4", "[convertingMVHEVC]", SIGINT,
       R"json("outputTarget": "Apple Vision Pro (MV-HEVC)")json", "two.mp4",
       "Not converted (the run was stopped): two.mp4"},
  };
  if (auto media = test::referenceMedia(); media && test::realTool("tsmuxer")) {
    const std::string disc = "cp " + shellQuoted((*media / "bluray/clip24.m2ts").string()) + " disc.m2ts";
    // The real tsMuxeR and decoder, stopped while pictures go through: the
    // FIFO pipeline of a side-by-side run, then the one-decode roads of a
    // Vision Pro run, with and without a kept side-by-side file.
    rows.push_back({"decode and SBS encode of a disc stream", disc, "disc.m2ts", "FIFO pipeline", SIGINT,
                    R"json("outputTarget": "SBS 3D (MKV)")json"});
    rows.push_back({"one decode into both encoders", disc, "disc.m2ts", "Frame 1/", SIGINT,
                    R"json("outputTarget": "Apple Vision Pro (MV-HEVC)", "keepSBSIntermediate": true)json"});
    rows.push_back({"one-encode road of a disc stream", disc, "disc.m2ts", "Frame 1/", SIGTERM,
                    R"json("outputTarget": "Apple Vision Pro (MV-HEVC)", "keepSBSIntermediate": false)json"});
  } else if (std::getenv("CI")) {
    ADD_FAILURE() << "CI has the reference clips and the real tsMuxeR; the disc rows cannot be left out there";
  }
  for (const auto &row : rows) {
    TempDir dir;
    test::writeFile(dir / "home/.config/kestrova/settings.json", "{" + row.settings + "}");
    ASSERT_TRUE(shell("cd " + shellQuoted(dir.path().string()) + " && " + row.makeSource).status.success());
    auto run = shell("unshare -p -f --mount-proc /bin/bash -c " +
                     shellQuoted(cancelScript(dir, row.source, row.marker, row.signal, row.more)));
    const std::string &report = run.standardOutput;
    SCOPED_TRACE(row.what + "\n" + report + test::readFile(dir / "run.log"));
    EXPECT_NE(report.find("status=" + std::to_string(128 + row.signal)), std::string::npos);
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);)
      EXPECT_FALSE(line.starts_with("left=")) << "still running: " << line;
    EXPECT_NE(report.find("decoy=alive"), std::string::npos);
    EXPECT_NE((report + test::readFile(dir / "run.log")).find(row.logged), std::string::npos);
    for (const auto &left : fs::directory_iterator(dir / "out"))
      ADD_FAILURE() << "left in the output folder: " << left.path().filename();
  }
}

} // namespace
} // namespace kestrova
