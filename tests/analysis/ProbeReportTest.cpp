#include "analysis/ProbeReport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace kestrova::analysis {
namespace {
using nlohmann::json;

struct Analysed {
  std::optional<SourceFileInfo> info;
  std::vector<std::string> lines;
};

Analysed analyse(const std::string &report, const std::string &path = "/discs/Movie 3D.m2ts") {
  Analysed result;
  result.info = readProbeReport(report, path, [&](const std::string &line) { result.lines.push_back(line); });
  return result;
}

json merged(json a, const json &b) {
  a.update(b, true);
  return a;
}

json videoStream(int index, int width, int height, json extra = json::object()) {
  json stream = {
      {"index", index}, {"codec_type", "video"}, {"codec_name", "h264"}, {"width", width}, {"height", height}};
  stream.update(extra);
  return stream;
}

// What ffprobe 5.1 prints for a Blu-ray 3D stream: the MVC view is a second
// h264 stream without size or profile, at the transport's 90 kHz clock; the
// file lasts as long as its sound, longer than the pictures.
const json kBluRay = {
    {"format", {{"duration", "5400.125000"}, {"tags", {{"title", "Feature"}}}}},
    {"streams",
     {videoStream(0, 1920, 1080,
                  {{"profile", "High"},
                   {"codec_tag_string", "HDMV"},
                   {"r_frame_rate", "24000/1001"},
                   {"duration", "5399.994000"}}),
      videoStream(1, 0, 0, {{"codec_tag_string", "HDMV"}, {"r_frame_rate", "90000/1"}, {"duration", "5399.9"}}),
      {{"index", 2}, {"codec_type", "audio"}, {"codec_name", "truehd"}}}}};

TEST(ProbeReport, BluRayStreamIsMvcInSeparateTracks) {
  auto result = analyse(kBluRay.dump());
  ASSERT_TRUE(result.info);
  const SourceFileInfo &info = *result.info;
  EXPECT_EQ(info.stereoMode, Stereo3DMode::mvcSeparateTracks());
  EXPECT_TRUE(info.hasMVCStream);
  EXPECT_EQ(info.mvcTrackIndex, 1);
  EXPECT_EQ(info.duration, 5399.994);
  EXPECT_EQ(info.title, "Feature");
  EXPECT_EQ(info.fileName, "Movie 3D.m2ts");
  EXPECT_EQ(info.resolution, "1920x1080");
  EXPECT_EQ(info.frameRateNum, 24000);
  EXPECT_EQ(info.frameRateDen, 1001);
}

TEST(ProbeReport, StereoRules) {
  struct Row {
    const char *name;
    json streams;
    Stereo3DMode mode;
    std::optional<std::int64_t> mvcIndex;
  };
  auto tagged = [](const char *mode) { return videoStream(0, 1920, 1080, {{"tags", {{"stereo_mode", mode}}}}); };
  auto sideData = [](const char *type, int inverted = 0) {
    return json{{"side_data_list", {{{"side_data_type", "Stereo 3D"}, {"type", type}, {"inverted", inverted}}}}};
  };
  auto packed = [](int width, int height, const json &extra) { return json{videoStream(0, width, height, extra)}; };
  const auto half = Stereo3DMode::EyeSize::half;
  const auto full = Stereo3DMode::EyeSize::full;
  const std::vector<Row> rows = {
      {"right_left tag on 16:9", {tagged("right_left")}, Stereo3DMode::sideBySide(half, true), std::nullopt},
      {"left_right tag on a 4:3 pair", packed(2880, 1080, {{"tags", {{"stereo_mode", "left_right"}}}}),
       Stereo3DMode::sideBySide(), std::nullopt},
      {"top_bottom tag on a 2.39:1 pair", packed(1920, 1606, {{"tags", {{"stereo_mode", "top_bottom"}}}}),
       Stereo3DMode::topAndBottom(), std::nullopt},
      {"inverted side by side", packed(3840, 1080, sideData("side by side", 1)), Stereo3DMode::sideBySide(full, true),
       std::nullopt},
      {"side data frame alternate",
       {videoStream(0, 1920, 1080, sideData("frame alternate"))},
       Stereo3DMode::frameAlternate(false),
       std::nullopt},
      {"side data replaces a side-by-side tag",
       {videoStream(0, 1920, 1080, merged({{"tags", {{"stereo_mode", "left_right"}}}}, sideData("frame alternate")))},
       Stereo3DMode::frameAlternate(false),
       std::nullopt},
      {"side data ignored after block_lr",
       {videoStream(0, 1920, 1080, merged({{"tags", {{"stereo_mode", "block_lr"}}}}, sideData("frame alternate")))},
       Stereo3DMode::mvcSingleTrack(false),
       std::nullopt},
      {"ratio exactly 2.8", {videoStream(0, 2800, 1000)}, Stereo3DMode::sideBySide(), std::nullopt},
      {"ratio exactly 4.0", {videoStream(0, 4000, 1000)}, Stereo3DMode::sideBySide(), std::nullopt},
      {"unknown tag then fallback",
       {videoStream(0, 3840, 1080, {{"tags", {{"stereo_mode", "mono"}}}})},
       Stereo3DMode::sideBySide(),
       std::nullopt},
      {"mvc profile beats a tag",
       {tagged("left_right"), videoStream(3, 1920, 1080, {{"profile", "Stereo High MVC"}})},
       Stereo3DMode::mvcSeparateTracks(),
       3},
      {"MVC1 tag in capitals",
       {videoStream(0, 1920, 1080), videoStream(4, 1920, 1080, {{"codec_tag_string", "MVC1"}})},
       Stereo3DMode::mvcSeparateTracks(),
       4},
      {"dependent needs two h264 names",
       {videoStream(0, 1920, 1080), videoStream(1, 0, 0, {{"codec_name", "hevc"}})},
       Stereo3DMode::none(),
       std::nullopt},
  };
  for (const auto &row : rows) {
    auto result = analyse(json{{"format", json::object()}, {"streams", row.streams}}.dump());
    ASSERT_TRUE(result.info) << row.name;
    EXPECT_EQ(result.info->stereoMode, row.mode) << row.name << ": " << result.info->stereoMode.text();
    EXPECT_EQ(result.info->hasMVCStream, row.mode != Stereo3DMode::none()) << row.name;
    EXPECT_EQ(result.info->mvcTrackIndex, row.mvcIndex) << row.name;
  }
}

TEST(ProbeReport, DurationsFrameRatesAndSizes) {
  EXPECT_EQ(parseDurationSeconds("5400.125000"), 5400.125);
  EXPECT_EQ(parseDurationSeconds("N/A"), 0.0);
  struct Row {
    const char *rate;
    std::int64_t num, den;
  };
  const Row rows[] = {{"24000/1001", 24000, 1001}, {"25/1", 25, 1},      {"0/0", 24000, 1001},
                      {"25", 24000, 1001},         {"a/b", 24000, 1001}, {"30/1/2", 24000, 1001}};
  for (const auto &row : rows) {
    auto result = analyse(json{{"streams", {videoStream(0, 1920, 1080, {{"r_frame_rate", row.rate}})}}}.dump());
    EXPECT_EQ(result.info->frameRateNum, row.num) << row.rate;
    EXPECT_EQ(result.info->frameRateDen, row.den) << row.rate;
  }
  // The first video stream with a size is the picture; audio sizes never count.
  auto sizes = analyse(json{{"streams",
                             {videoStream(0, 1920, 1080),
                              videoStream(1, 1280, 720),
                              {{"codec_type", "audio"}, {"width", 640}, {"height", 480}}}}}
                           .dump());
  EXPECT_EQ(sizes.info->resolution, "1920x1080");
  EXPECT_EQ(sizes.info->videoWidth, 1920);
  // Not a report at all: no analysis rather than defaults.
  for (const char *report : {"", "[]", "not json"})
    EXPECT_FALSE(analyse(report).info) << report;
}

} // namespace
} // namespace kestrova::analysis
