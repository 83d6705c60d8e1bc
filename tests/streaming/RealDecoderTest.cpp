// The streaming helpers with the real JM decoder on the reference clip (24
// pairs of 1920x1080, IDR every 12 frames): the double cannot show what the
// real decoder does with its current folder, nor how big real segments are.
#include "ToolsFolder.h"
#include "support/MediaFiles.h"
#include "support/RealMedia.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>

namespace kestrova::streaming::test {
namespace {

namespace fs = std::filesystem;
using kestrova::test::ExfatMount;
using kestrova::test::TempDir;

constexpr int kPairs = 24;

/// The real decoder in a private tools folder, the clip, its two views as
/// the real tsMuxeR demuxes them (for the dual split) and the reference
/// pictures.
struct RealClip {
  ToolsFolder folder{false};
  TempDir scratch; ///< stands in for $XDG_RUNTIME_DIR and $TMPDIR
  fs::path clip, views, base, mvc, reference[2];
  std::string skipReason;

  RealClip() {
    const auto ldecod = kestrova::test::realTool("ldecod");
    const auto tsmuxer = kestrova::test::realTool("tsmuxer");
    const auto media = kestrova::test::referenceMedia();
    if (!ldecod || !tsmuxer || !media) {
      skipReason = "the real JM decoder or tsMuxeR (scripts/build-tools) or the reference media is missing";
      return;
    }
    fs::copy_file(*ldecod, folder.tool("ldecod"));
    clip = *media / "bluray/clip24.m2ts";
    views = *media / "bluray/clip24-views.264";
    base = folder.work() / "clip24.track_4113.264";
    mvc = folder.work() / "clip24.track_4114.mvc";
    kestrova::test::writeFile(folder.work() / "demux.meta", "MUXOPT --demux\nV_MPEG4/ISO/AVC, \"" + clip.string() +
                                                                "\", track=4113\nV_MPEG4/ISO/MVC, \"" + clip.string() +
                                                                "\", track=4114\n");
    auto split = runShell(quoted(tsmuxer->string()) + " demux.meta . > /dev/null && " + quoted(ldecod->string()) +
                              " -p InputFile=" + quoted(views.string()) +
                              " -p OutputFile=ref.yuv -p DecodeAllLayers=1 > /dev/null",
                          folder.work());
    EXPECT_TRUE(split.status.success()) << split.standardError;
    reference[0] = folder.work() / "ref_ViewId0000.yuv";
    reference[1] = folder.work() / "ref_ViewId0001.yuv";
  }

  /// Runs parallel-pipeline.sh from `cwd` with the scratch folder as the
  /// only place for FIFOs outside `workdir`.
  tools::CollectedOutput runScript(const std::string &input, const fs::path &output, const fs::path &workdir,
                                   const std::string &options, const fs::path &cwd) const {
    return runShell(
        "XDG_RUNTIME_DIR=" + quoted(scratch.path().string()) + " TMPDIR=" + quoted(scratch.path().string()) + " " +
            quoted(folder.tool("parallel-pipeline.sh").string()) + " " + quoted(input) + " " + quoted(clip.string()) +
            " " + quoted(output.string()) + " --width 1920 --height 1080 --fps 24000/1001 --workdir " +
            quoted(workdir.string()) + " " + options +
            // What the program passes: the encode, then the sound's map and the side-by-side tag.
            " --encode -c:v --encode libx264 --encode -crf --encode 18 --encode -preset --encode veryfast"
            " --join -map --join '1:a?' --join -c:a --join copy --join -metadata:s:v:0"
            " --join stereo_mode=left_right",
        cwd);
  }

  /// PSNR (dB) of the left and right halves of `sbs` against views 0 and 1.
  std::pair<double, double> halvesAgainstViews(const fs::path &sbs) const {
    // Pictures are paired by their index: the container's millisecond
    // timestamps would pair some with their neighbours.
    static constexpr const char *kByIndex = "settb=1/24,setpts=N";
    const std::string raw = " -f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 24000/1001 -i ";
    auto run = runShell("ffmpeg -hide_banner -nostdin -i " + quoted(sbs.string()) + raw +
                            quoted(reference[0].string()) + raw + quoted(reference[1].string()) + " -lavfi '[0:v]" +
                            kByIndex + ",split[a][b];[1:v]" + kByIndex + "[v0];[2:v]" + kByIndex +
                            "[v1];[a]crop=1920:1080:0:0[l];[b]crop=1920:1080:1920:0[r];"
                            "[l][v0]psnr[o1];[r][v1]psnr[o2]' -map '[o1]' -f null - -map '[o2]' -f null -",
                        folder.work());
    // One "[Parsed_psnr_N @ ...] PSNR ... average:X" line per half, left first by N.
    std::map<int, double> averages;
    const std::regex line(R"(Parsed_psnr_(\d+)[^\n]*average:([0-9.]+|inf))");
    for (std::sregex_iterator it(run.standardError.begin(), run.standardError.end(), line), end; it != end; ++it)
      averages[std::stoi((*it)[1])] = (*it)[2] == "inf" ? 99.0 : std::stod((*it)[2]);
    if (averages.size() != 2) {
      ADD_FAILURE() << run.standardError;
      return {0, 0};
    }
    return {averages.begin()->second, averages.rbegin()->second};
  }
};

int videoFrames(const fs::path &file) {
  const std::string count = kestrova::test::probe({"-v", "error", "-count_frames", "-select_streams", "v:0",
                                                   "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0"},
                                                  file);
  return std::atoi(count.c_str());
}

/// Where a row puts the work folder and from where it starts the script.
enum class Place { plain, exfat, readOnlySource };

struct Row {
  const char *name;
  const char *options;
  bool dualSplit;
  Place place;
};

void runRows(RealClip &clip, const std::vector<Row> &rows, const ExfatMount *exfat) {
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TempDir plainWork;
    fs::path work = row.place == Place::exfat ? exfat->path() / "work" : plainWork.path() / "a blank";
    fs::create_directories(work);
    const fs::path output = work / "clip_SBS.mkv";
    std::string input = row.dualSplit ? clip.base.string() : clip.views.string();
    fs::path cwd = clip.folder.work();
    if (row.place == Place::readOnlySource) {
      // The stream is named relative to a read-only folder the script starts from.
      cwd = exfat->path();
      input = "clip24-views.264";
    }
    std::string options = row.options;
    if (row.dualSplit)
      options += " --dual-split " + quoted(clip.base.string()) + " " + quoted(clip.mvc.string());
    auto run = clip.runScript(input, output, work, options, cwd);
    ASSERT_TRUE(run.status.success()) << run.standardError << run.standardOutput;
    EXPECT_NE(run.standardOutput.find("Split into 2 segments"), std::string::npos) << run.standardOutput;
    EXPECT_EQ(videoFrames(output), kPairs);
    EXPECT_NE(kestrova::test::streamSummary(output).find("left_right, audio"), std::string::npos)
        << kestrova::test::streamSummary(output);
    auto [left, right] = clip.halvesAgainstViews(output);
    // The views differ by far more than the encode loses, so a swap shows.
    EXPECT_GT(left, 30.0) << "left half against view 0";
    EXPECT_GT(right, 30.0) << "right half against view 1";
    fs::remove(output);
    EXPECT_TRUE(fs::is_empty(work)) << "segments left in " << work;
    EXPECT_TRUE(fs::is_empty(clip.scratch.path())) << "FIFO folder left";
  }
}

TEST(RealDecoder, ParallelScriptSplitsDecodesAndJoinsTheClip) {
  RealClip clip;
  if (!clip.skipReason.empty())
    GTEST_SKIP() << clip.skipReason;
  // Each segment is about 400 KB, far more than a pipe holds.
  runRows(clip,
          {{"interleaved stream through pipes", "--workers 2", false, Place::plain},
           {"dual split through FIFOs", "--workers 2", true, Place::plain}},
          nullptr);
}

TEST(RealDecoder, ParallelScriptOnExfatAndFromAReadOnlyFolder) {
  RealClip clip;
  if (!clip.skipReason.empty())
    GTEST_SKIP() << clip.skipReason;
  std::string why;
  TempDir mountArea;
  auto exfat = ExfatMount::create(mountArea.path(), 1024, why);
  if (!exfat)
    GTEST_SKIP() << "no exFAT file system to test on: " << why;
  runRows(clip, {{"work folder without FIFOs or links", "--workers 2", true, Place::exfat}}, exfat.get());
  fs::remove_all(exfat->path() / "work");
  fs::copy_file(clip.views, exfat->path() / "clip24-views.264");
  ASSERT_TRUE(exfat->remountReadOnly());
  runRows(clip, {{"started from a read-only source folder", "--workers 2", false, Place::readOnlySource}}, exfat.get());
}

} // namespace
} // namespace kestrova::streaming::test
