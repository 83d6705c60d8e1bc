// Ctrl-C through the real program, inside a PID namespace of the test's own
// (so nothing outside it can be reached): every process of the conversion
// ends, no work folder and no output stay, and a process merely named like a
// helper, started beside the run, survives.
#include "support/NearlyFullDisk.h"
#include "support/RealMedia.h"
#include "support/TestSupport.h"
#include "tools/Process.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace kestrova {
namespace {
namespace fs = std::filesystem;
using test::NearlyFullDisk;
using test::shellQuoted;
using test::TempDir;

tools::CollectedOutput shell(const std::string &command) {
  return tools::runAndCollect({"/bin/sh", {"-c", command}, {}});
}

bool namespacesAvailable() {
  return ::geteuid() == 0 && shell("unshare -p -f --mount-proc true").status.success();
}

// Runs inside the namespace as its first process: starts the decoy and the
// conversion, interrupts the conversion once its log shows `marker`, then
// reports the exit status, every process still there and whether the decoy lives.
// With `rerun`, the same conversion runs again to its end afterwards.
std::string cancelScript(const TempDir &dir, const std::string &source, const std::string &marker, int sig,
                         const std::string &more, bool rerun) {
  const std::string log = shellQuoted((dir / "run.log").string());
  const std::string run = "HOME=home XDG_CONFIG_HOME= LC_ALL=C " +
                          shellQuoted((test::buildDir() / "bin/kestrova").string()) + " --input " +
                          shellQuoted(source) + " " + more + " --auto-convert --output out";
  // builtins only: the listing itself starts no process
  const std::string others = "n=0; for p in /proc/[0-9]*; do q=${p#/proc/}; [ $q = 1 ] || [ $q = $decoy ] || "
                             "{ n=$((n+1)); [ -z \"$1\" ] || { IFS= read -r -d '' first < $p/cmdline; "
                             "echo \"left=$q $first\"; }; }; done";
  return "cd " + shellQuoted(dir.path().string()) + "\nothers() { " + others +
         "; }\n(exec -a ffmpeg-something sleep 60) & decoy=$!\n" + run + " > " + log + " 2>&1 & run=$!\n" +
         "i=0; until grep -qF " + shellQuoted(marker) + " " + log +
         " || [ $i -ge 3000 ]; do sleep 0.1; i=$((i+1)); done\n"
         "kill -" +
         std::to_string(sig) +
         " $run; wait $run; echo status=$?\n"
         // what dies with the program (kill -9) needs a moment
         "i=0; others; while [ $n != 0 ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i+1)); others; done\n"
         "others print\n" +
         (rerun ? run + " > rerun.log 2>&1; echo rerun=$?\n" : "") +
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
    bool rerun = false;            // killed outright: the next run finds and removes what it left
  };
  const std::string clip = "ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x540:rate=24 -f lavfi -i sine -t 10 "
                           "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac ";
  std::vector<Row> rows = {
      {"MV-HEVC conversion", clip + "sbs.mp4", "sbs.mp4", "[Encoding for Vision Pro]", SIGINT},
      {"remux of a Matroska source", clip + "sbs.mkv", "sbs.mkv", "Remuxing MKV", SIGTERM},
      {"batch", clip + "sbs.mp4 && cp sbs.mp4 two.mp4", "sbs.mp4", "[Encoding for Vision Pro]", SIGINT,
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
    // A kill no program can catch.
    rows.push_back({"kill -9 during the SBS encode",
                    disc,
                    "disc.m2ts",
                    "FIFO pipeline",
                    SIGKILL,
                    R"json("outputTarget": "SBS 3D (MKV)")json",
                    {},
                    {},
                    true});
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
                     shellQuoted(cancelScript(dir, row.source, row.marker, row.signal, row.more, row.rerun)));
    const std::string &report = run.standardOutput;
    SCOPED_TRACE(row.what + "\n" + report + test::readFile(dir / "run.log"));
    EXPECT_NE(report.find("status=" + std::to_string(128 + row.signal)), std::string::npos);
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);)
      EXPECT_FALSE(line.starts_with("left=")) << "still running: " << line;
    EXPECT_NE(report.find("decoy=alive"), std::string::npos);
    EXPECT_NE((report + test::readFile(dir / "run.log")).find(row.logged), std::string::npos);
    if (row.rerun) {
      const std::string rerun = test::readFile(dir / "rerun.log");
      EXPECT_NE(report.find("rerun=0"), std::string::npos) << rerun;
      EXPECT_NE(rerun.find("Removed what an interrupted run left"), std::string::npos) << rerun;
    }
    for (const auto &left : fs::directory_iterator(dir / "out"))
      if (!row.rerun || left.path().filename().string().starts_with(".") ||
          left.path().filename().string().starts_with("Kestrova_"))
        ADD_FAILURE() << "left in the output folder: " << left.path().filename();
  }
}

// A copy of the program whose tools folder lacks `left` and has an ffmpeg
// that replays `recording` (standard error, status 1) where it would read
// pictures from a pipe, and is the real one otherwise.
std::string toolTree(const std::string &kestrova, const std::string &left, const std::string &recording = {}) {
  std::string tree = "mkdir -p tree/bin tree/share/kestrova/tools && cp " + kestrova + " tree/bin/ && for t in " +
                     shellQuoted((test::buildDir() / "share/kestrova/tools").string()) +
                     "/*; do case \"${t##*/}\" in " + (left.empty() ? "-" : left) +
                     ") ;; *) ln -s \"$t\" tree/share/kestrova/tools/;; esac; done";
  if (!recording.empty())
    tree += " && printf '%s\\n' '#!/bin/sh' 'case \" $* \" in *\" pipe:0 \"*) cat " + shellQuoted(recording) +
            " >&2; exit 1;; esac' 'exec /usr/bin/ffmpeg \"$@\"' > tree/share/kestrova/tools/ffmpeg && chmod +x "
            "tree/share/kestrova/tools/ffmpeg";
  return tree;
}

// Replaces tool `name` of a tree made by toolTree() with a script of `lines`,
// in which REAL stands for the real tool.
std::string wrappedTool(const std::string &name, std::vector<std::string> lines) {
  const std::string real = (test::buildDir() / "share/kestrova/tools" / name).string();
  std::string command = "printf '%s\\n' '#!/bin/bash'";
  for (auto &line : lines) {
    for (auto at = line.find("REAL"); at != std::string::npos; at = line.find("REAL"))
      line.replace(at, 4, real);
    command += " " + shellQuoted(line);
  }
  const std::string file = "tree/share/kestrova/tools/" + name;
  return command + " > " + file + ".new && chmod +x " + file + ".new && mv -f " + file + ".new " + file;
}

// Faults of a real disc conversion with the real tools, each run in a PID
// namespace: the run fails, says why in words that name the tool or the
// fault, claims no output and leaves no hidden file and no bulky work file;
// a source that is only shorter than it claims converts, with a warning
// said again before the result.
TEST(FaultRun, FailuresAreNamedAndLeaveNoFalseOutput) {
  if (!namespacesAvailable())
    GTEST_SKIP() << "needs root and unshare -p (a PID namespace keeps the test from reaching other processes)";
  auto media = test::referenceMedia();
  if (!media || !test::realTool("tsmuxer")) {
    if (std::getenv("CI"))
      ADD_FAILURE() << "CI has the reference clips and the real tsMuxeR";
    GTEST_SKIP() << "needs the reference clips and the real tsMuxeR";
  }
  const fs::path clip = *media / "bluray/clip24.m2ts";
  const std::string damage = "python3 " +
                             shellQuoted((test::sourceDir() / "tests/cli/damaged/damage_mvc.py").string()) + " " +
                             shellQuoted(clip.string());
  const fs::path fakes = test::sourceDir() / "tests/cli/fakes";
  const std::string kestrova = shellQuoted((test::buildDir() / "bin/kestrova").string());
  const std::string sbs = R"json({"outputTarget": "SBS 3D (MKV)"})json";
  const std::string waitFor =
      "i=0; until grep -q %s out/Kestrova_*/*.log 2>/dev/null || [ $i -ge 3000 ]; do sleep 0.1; "
      "i=$((i+1)); done\n";
  auto waitForLog = [&waitFor](const std::string &text) {
    std::string command = waitFor;
    return command.replace(command.find("%s"), 2, shellQuoted(text));
  };
  struct Row {
    std::string what;
    std::string prepare; // shell commands run in the test's folder
    std::string program; // relative to the test's folder, or the built one
    std::string source;
    std::string said;             // what the run must say
    std::uintmax_t freeBytes = 0; // 0: the output folder is not on a small disk
    std::string during = {};      // run in the namespace while the conversion runs
    std::string settings = {};    // the stored settings, else a side-by-side target
    bool completes = false;       // converts what there is, with a warning
    std::int64_t pictures = 0;    // a completing run's file holds them, when not 0
  };
  const std::string copy = "cp " + shellQuoted(clip.string()) + " disc.m2ts";
  const std::vector<Row> rows = {
      {"no room for the views", copy, kestrova, "disc.m2ts", "not enough space on", 200 << 10},
      {"the disk fills during the demux", copy, kestrova, "disc.m2ts", "not enough space on", 1100 << 10},
      {"the JM decoder fills the disk", copy + " && " + toolTree(kestrova, "yuv_hstack"), "tree/bin/kestrova",
       "disc.m2ts", "not enough space on", 200u << 20,
       // room for the pictures when the decode starts, then almost none
       "i=0; until ls out/Kestrova_*/output_ViewId0000.yuv >/dev/null 2>&1 || [ $i -ge 3000 ]; do sleep 0.1; "
       "i=$((i+1)); done; fallocate -l $(( $(df --output=avail -B1 out | tail -1) - 3000000 )) out/filler2\n"},
      {"the disk fills during the encode", copy, kestrova, "disc.m2ts", "not enough space on", 200u << 20,
       waitForLog("FIFO pipeline") +
           "for k in 1 2 3; do fallocate -l $(( $(df --output=avail -B1 out | tail -1) - 100000 )) out/filler$k && "
           "break; done\n"},
      {"ffmpeg fails on the pipe road",
       copy + " && " + toolTree(kestrova, "", (fakes / "ffmpeg-encoder-out-of-memory.txt").string()),
       "tree/bin/kestrova", "disc.m2ts", "ffmpeg (side-by-side encoder) failed: x264 [error]: malloc of size"},
      {"x265 fails in the side-by-side encoder of the Vision Pro road",
       copy + " && " + toolTree(kestrova, "", (fakes / "ffmpeg-x265-out-of-memory.txt").string()),
       "tree/bin/kestrova",
       "disc.m2ts",
       "ffmpeg (side-by-side encoder) failed: x265 [error]: memory allocation failure",
       0,
       {},
       R"json({"outputTarget": "Apple Vision Pro (MV-HEVC)", "keepSBSIntermediate": true,
               "outputCodec": "H.265 (HEVC)"})json"},
      // as ffmpeg once did where a copied subtitle track ended: stop, say nothing, exit 0
      {"the side-by-side encoder stops taking pictures early",
       copy + " && " + toolTree(kestrova, "") +
           " && printf '%s\\n' '#!/bin/bash' 'case \" $* \" in *\" pipe:0 "
           "\"*) set -- \"${@:1:$#-1}\" -frames:v 5 \"${@: -1}\";; esac' 'exec /usr/bin/ffmpeg \"$@\"' > "
           "tree/share/kestrova/tools/ffmpeg && chmod +x tree/share/kestrova/tools/ffmpeg",
       "tree/bin/kestrova", "disc.m2ts", "stopped taking pictures after 5"},
      // each tool that can end early with status 0, as a pipe closed too soon would make it
      {"the fast decoder ends early without an error, and the JM decoder gives the whole film",
       copy + " && " + toolTree(kestrova, "") + " && " +
           wrappedTool("edge264-pipe", {"REAL \"$@\" | head -c $((1920*1080*3*5))", "exit 0"}),
       "tree/bin/kestrova",
       "disc.m2ts",
       "edge264-pipe (decoder) ended after 5 of the film's 24 pictures",
       0,
       {},
       {},
       true,
       24},
      {"the JM decoder writes part of the film without an error",
       copy + " && " + toolTree(kestrova, "yuv_hstack") + " && " +
           wrappedTool("ldecod", {"REAL \"$@\"; status=$?",
                                  "truncate -s $((1920*1080*3/2*5)) output_ViewId0000.yuv output_ViewId0001.yuv",
                                  "exit $status"}),
       "tree/bin/kestrova", "disc.m2ts", "ldecod (JM decoder) wrote 5 of the film's 24 pictures"},
      {"the MV-HEVC converter ends early without an error",
       copy + " && " + toolTree(kestrova, "") + " && " +
           wrappedTool(
               "MVHEVCConverter",
               {"head -c $((1920*1080*3*5)) | REAL \"$@\"; status=${PIPESTATUS[1]}; cat > /dev/null", "exit $status"}),
       "tree/bin/kestrova",
       "disc.m2ts",
       "disc.mov came out with 5 of the film's 24 pictures",
       0,
       {},
       R"json({"outputTarget": "Apple Vision Pro (MV-HEVC)"})json"},
      {"the 3D view stops at 40 %", damage + " cut.m2ts cut", kestrova, "cut.m2ts", "the 3D view stops at 8 of 24"},
      {"five flipped bits in the 3D view", damage + " flip.m2ts flip", kestrova, "flip.m2ts",
       "the 3D view is damaged from"},
      // Matroska's block_lr tag marks MVC and frame-alternate films alike
      {"a frame-alternate Matroska film read as MVC",
       "ffmpeg -v error -f lavfi -i testsrc2=size=640x360:rate=48 -t 2 -c:v libx264 -preset ultrafast "
       "-metadata:s:v:0 stereo_mode=block_lr fa.mkv",
       kestrova, "fa.mkv", "fa.mkv holds no MVC (3D) view: all its 96 pictures are of one view. Its 3D tag"},
      {"the source is cut at 60 %",
       "head -c 582451 " + shellQuoted(clip.string()) + " > cut60.m2ts",
       kestrova,
       "cut60.m2ts",
       "it was cut short",
       0,
       {},
       {},
       true},
      // packed films are read to their end by ffmpeg: only their length can tell
      {"a side-by-side film cut short",
       "ffmpeg -v error -f lavfi -i testsrc2=size=640x360:rate=24 -t 8 -c:v libx264 -preset ultrafast "
       "-metadata:s:v:0 stereo_mode=left_right sbs.mkv && head -c $(( $(stat -c %s sbs.mkv) / 2 )) sbs.mkv > cut.mkv",
       kestrova,
       "cut.mkv",
       "cut_SBS.mkv lasts 0:00:0",
       0,
       {},
       {},
       true},
      // a sample cut with a plain file cutter, 15 % in: no key picture until the second GOP
      {"the source is cut at its start", "tail -c +145537 " + shellQuoted(clip.string()) + " > head.m2ts", kestrova,
       "head.m2ts", "head.m2ts starts in the middle of a group of pictures"},
      // deleted as soon as the run has its work folder: before any tool but
      // the demuxer has opened it
      {"the source is deleted during the run", copy, kestrova, "disc.m2ts",
       "was deleted or moved during the conversion", 0,
       "i=0; until ls -d out/Kestrova_* >/dev/null 2>&1 || [ $i -ge 3000 ]; do sleep 0.1; i=$((i+1)); done\n"
       "rm disc.m2ts\n"},
      {"the output's name is too long", "cp " + shellQuoted(clip.string()) + " " + std::string(250, 'a') + ".m2ts",
       kestrova, std::string(250, 'a') + ".m2ts", "too long for the file system"},
      {"another run writes the same output", copy, kestrova, "disc.m2ts", "another Kestrova run", 0,
       // the second run, started while the first writes
       waitForLog("FIFO pipeline") + kestrova + " --input disc.m2ts --auto-convert --output out > second.log 2>&1\n"},
      // as from a container, or another machine sharing the folder: the first run's pid means nothing there
      {"another run in a PID namespace of its own writes the same output", copy, kestrova, "disc.m2ts",
       "another Kestrova run", 0,
       waitForLog("FIFO pipeline") + "unshare -p -f --mount-proc " + kestrova +
           " --input disc.m2ts --auto-convert --output out > second.log 2>&1\n"},
  };
  bool noLoopMounts = false;
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    test::writeFile(dir / "home/.config/kestrova/settings.json", row.settings.empty() ? sbs : row.settings);
    ASSERT_TRUE(shell("cd " + shellQuoted(dir.path().string()) + " && " + row.prepare).status.success());
    std::optional<NearlyFullDisk> disk;
    if (row.freeBytes > 0) {
      disk.emplace(dir / "out", row.freeBytes);
      if (!disk->mounted()) {
        noLoopMounts = true;
        continue;
      }
    }
    const std::string script = "cd " + shellQuoted(dir.path().string()) +
                               "\nexport HOME=home XDG_CONFIG_HOME= LC_ALL=C\n" + row.program + " --input " +
                               row.source + " --auto-convert --output out > run.log 2>&1 & run=$!\n" + row.during +
                               "wait $run; echo status=$?\n";
    auto run = shell("unshare -p -f --mount-proc /bin/bash -c " + shellQuoted(script));
    // The busy-output row: what the second run said is the finding.
    const std::string log =
        test::readFile(dir / "run.log") + (fs::exists(dir / "second.log") ? test::readFile(dir / "second.log") : "");
    SCOPED_TRACE(run.standardOutput + log);
    EXPECT_NE(log.find(row.said), std::string::npos);
    for (const char *internal : {"accessUnitCountMismatch", "Pipe pipeline exited", "Assertion"})
      EXPECT_EQ(log.find(internal), std::string::npos) << internal;
    if (row.completes) {
      EXPECT_NE(run.standardOutput.find("status=0"), std::string::npos);
      // what it warned of is said again before the result, out of the progress lines' way
      EXPECT_LT(log.rfind(row.said), log.find("\u2705 Conversion complete"));
      EXPECT_GT(log.rfind(row.said), log.find("Warnings of this conversion"));
      const fs::path output = dir / "out" / (fs::path(row.source).stem().string() + "_SBS.mkv");
      EXPECT_GT(fs::file_size(output), 0u);
      if (row.pictures > 0) {
        const auto counted = shell("ffprobe -v error -select_streams v:0 -count_packets -show_entries "
                                   "stream=nb_read_packets -of csv=p=0 " +
                                   shellQuoted(output.string()));
        EXPECT_EQ(std::atoll(counted.standardOutput.c_str()), row.pictures) << counted.standardOutput;
      }
      continue;
    }
    if (fs::exists(dir / "second.log")) {
      EXPECT_NE(run.standardOutput.find("status=0"), std::string::npos) << "the first run completes";
      continue;
    }
    EXPECT_EQ(run.standardOutput.find("status=0"), std::string::npos);
    EXPECT_EQ(log.find("Conversion complete"), std::string::npos);
    for (const auto &entry : fs::recursive_directory_iterator(dir / "out")) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with(".") || name.ends_with(".264") || name.ends_with(".mvc") || name.ends_with(".yuv"))
        ADD_FAILURE() << "left behind: " << entry.path();
    }
  }
  if (noLoopMounts)
    GTEST_SKIP() << "the rows on a small disk need loop mounts, which are not permitted here";
}

} // namespace
} // namespace kestrova
