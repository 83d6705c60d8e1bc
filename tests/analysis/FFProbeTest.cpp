// The analysis against the real ffprobe on files ffmpeg makes during the
// test, and against the fake for what real files cannot show.
#include "analysis/FFProbe.h"
#include "core/Errors.h"
#include "fakes/FakeToolFolder.h"
#include "support/TestSupport.h"
#include "tools/Process.h"

#include <gtest/gtest.h>

namespace kestrova::analysis {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

tools::ToolLocator machineLocator() {
  return tools::ToolLocator(tools::BundlePaths{"", "/nonexistent", ""});
}

// Makes a few frames of test video (and optional audio) with ffmpeg. NUT is
// used where a tag must sit on an audio stream: Matroska keeps stereo_mode
// for video tracks only.
void makeClip(const fs::path &out, const std::string &size, const std::vector<std::string> &extra) {
  tools::ProcessLaunch launch;
  launch.executable = "/usr/bin/ffmpeg";
  launch.arguments = {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=25:duration=0.2"};
  launch.arguments.insert(launch.arguments.end(), extra.begin(), extra.end());
  launch.arguments.push_back(out.string());
  auto result = tools::runAndCollect(launch);
  ASSERT_TRUE(result.status.success()) << result.standardError;
}

TEST(FFProbe, RealFilesOfEveryLayout) {
  test::TempDir dir;
  struct Row {
    const char *file;
    const char *size;
    std::vector<std::string> extra;
    Stereo3DMode mode;
    std::vector<bool> forcedSubtitles = {};
  };
  test::writeFile(dir / "cue.srt", "1\n00:00:00,000 --> 00:00:00,100\nHi\n");
  const std::string cue = (dir / "cue.srt").string();
  const auto half = Stereo3DMode::EyeSize::half;
  const auto full = Stereo3DMode::EyeSize::full;
  const std::vector<Row> rows = {
      {"lr.mkv", "320x180", {"-metadata:s:v:0", "stereo_mode=left_right"}, Stereo3DMode::sideBySide(half)},
      {"rl.mkv", "640x180", {"-metadata:s:v:0", "stereo_mode=right_left"}, Stereo3DMode::sideBySide(full, true)},
      {"tb.mkv", "320x360", {"-metadata:s:v:0", "stereo_mode=top_bottom"}, Stereo3DMode::topAndBottom()},
      {"bt.mkv", "320x180", {"-metadata:s:v:0", "stereo_mode=bottom_top"}, Stereo3DMode::topAndBottom(half, true)},
      // ffmpeg 5.1 writes MP4's st3d only under -strict unofficial, and only
      // for the left eye first; the stream copy carries the Matroska side data.
      {"tb.mp4",
       "320x360",
       {"-i", (dir / "tb.mkv").string(), "-map", "1:v", "-c", "copy", "-strict", "unofficial"},
       Stereo3DMode::topAndBottom()},
      {"blr.mkv", "320x180", {"-metadata:s:v:0", "stereo_mode=block_lr"}, Stereo3DMode::mvcSingleTrack(false)},
      {"brl.mkv", "320x180", {"-metadata:s:v:0", "stereo_mode=block_rl"}, Stereo3DMode::mvcSingleTrack(true)},
      {"wide.mkv", "640x180", {}, Stereo3DMode::sideBySide()},
      {"flat.mkv", "320x180", {}, Stereo3DMode::none()},
      {"two.mkv",
       "320x180",
       {"-f", "lavfi", "-i", "testsrc=size=160x90:rate=25:duration=0.2", "-map", "0", "-map", "1"},
       Stereo3DMode::none()},
      {"audio-tag.nut",
       "320x180",
       {"-f", "lavfi", "-i", "sine=duration=0.2", "-map", "0", "-map", "1", "-metadata:s:a:0", "stereo_mode=block_rl"},
       Stereo3DMode::mvcSingleTrack(true)},
      {"subtitles.mkv",
       "320x180",
       {"-i", cue, "-i", cue, "-map", "0", "-map", "1", "-map", "2", "-disposition:s:1", "forced"},
       Stereo3DMode::none(),
       {false, true}},
  };
  for (const auto &row : rows) {
    makeClip(dir / row.file, row.size, row.extra);
    auto info = FFProbe(machineLocator(), [](const std::string &) {}).analyze(dir / row.file);
    ASSERT_TRUE(info) << row.file;
    EXPECT_EQ(info->stereoMode, row.mode) << row.file << " gave " << info->stereoMode.text();
    EXPECT_EQ(info->frameRateNum, 25) << row.file;
    EXPECT_EQ(info->frameRateDen, 1) << row.file;
    EXPECT_NEAR(info->duration, 0.2, 0.05) << row.file;
    EXPECT_EQ(info->subtitleForced, row.forcedSubtitles) << row.file;
  }
}

TEST(FFProbe, WithoutFfprobeFailsWithItsOwnError) {
  test::TempDir dir;
  tools::ToolLocator nothing(tools::BundlePaths{"", "/nonexistent", ""}, {.which = (dir / "none").string()},
                             {(dir / "empty/").string()});
  try {
    FFProbe(nothing, [](const std::string &) {}).analyze(dir / "x.mkv");
    FAIL();
  } catch (const AnalysisError &error) {
    EXPECT_NE(std::string(error.what()).find("ffprobe"), std::string::npos) << error.what();
  }
}

TEST(FFProbe, NonZeroExitWithValidReportStillAnalyses) {
  test::TempDir dir;
  test::FakeToolFolder tools(dir / "tools");
  json report = {{"format", {{"duration", "10.0"}}},
                 {"streams",
                  {{{"index", 0},
                    {"codec_type", "video"},
                    {"codec_name", "h264"},
                    {"width", 3840},
                    {"height", 1080},
                    {"r_frame_rate", "24/1"}}}}};
  tools.add("ffprobe", {{"steps", {{{"stdout", report.dump()}}, {{"stderr", "warning: odd file"}}, {{"exit", 1}}}}});
  tools::ToolLocator locator(tools::BundlePaths{"", "/nonexistent", ""}, {.which = (dir / "none").string()},
                             {(dir / "tools/").string()});
  std::vector<std::string> lines;
  auto info = FFProbe(locator, [&](const std::string &line) { lines.push_back(line); }).analyze(dir / "sbs.mkv");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->stereoMode, Stereo3DMode::sideBySide());
  EXPECT_EQ(info->duration, 10.0);
  // What ffprobe complained about reaches the log.
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const auto &l) { return l.ends_with("warning: odd file"); }));
}

} // namespace
} // namespace kestrova::analysis
