#include "analysis/VideoTracks.h"
#include "core/Errors.h"
#include "fakes/FakeToolFolder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kestrova::analysis {
namespace {
using nlohmann::json;

TEST(VideoTracks, ListsVideoStreamsBaseViewFirst) {
  struct Row {
    const char *name;
    json streams;
    std::vector<DetectedTrack> expected;
  };
  const std::vector<Row> rows = {
      {"disc stream",
       {{{"index", 0}, {"codec_type", "video"}, {"codec_name", "h264"}, {"width", 1920}},
        {{"index", 1}, {"codec_type", "video"}, {"codec_name", "h264"}, {"width", 0}},
        {{"index", 2}, {"codec_type", "audio"}, {"codec_name", "ac3"}, {"width", 0}}},
       {{0, "h264", false, 0}, {1, "h264", true, 1}}},
      {"dependent view listed first",
       {{{"index", 0}, {"codec_type", "video"}, {"codec_name", "h264"}, {"width", 0}},
        {{"index", 1}, {"codec_type", "video"}, {"codec_name", "h264"}, {"width", 1920}}},
       {{1, "h264", false, 1}, {0, "h264", true, 0}}},
      {"profile and tag signs after lower-casing",
       {{{"index", 0},
         {"codec_type", "video"},
         {"width", 1920},
         {"profile", "Stereo High"},
         {"codec_tag_string", "[0][0][0][0]"}},
        {{"index", 1}, {"codec_type", "video"}, {"width", 1920}, {"codec_tag_string", "MVC1"}}},
       {{0, "", false, 0}, {1, "", true, 1}}},
  };
  for (const auto &row : rows)
    EXPECT_EQ(readVideoTracks(json{{"streams", row.streams}}.dump()), row.expected) << row.name;
  EXPECT_THROW(readVideoTracks("not json"), nlohmann::json::parse_error);
}

TEST(VideoTracks, RunsFfprobeAndReadsAReportLargerThanAPipe) {
  test::TempDir dir;
  test::FakeToolFolder tools(dir / "tools");
  json streams = json::array();
  for (int i = 0; i < 3000; ++i)
    streams.push_back({{"index", i}, {"codec_type", "data"}, {"note", std::string(100, 'n')}});
  streams.push_back({{"index", 3000}, {"codec_type", "video"}, {"codec_name", "h264"}, {"width", 1920}});
  tools.add("ffprobe",
            {{"steps", {{{"stdout", json{{"streams", streams}}.dump()}}, {{"stderr", "noise"}}, {{"exit", 1}}}}});
  tools::ToolLocator locator(tools::BundlePaths{"", "/nonexistent", ""}, {.which = (dir / "none").string()},
                             {(dir / "tools/").string()});
  auto tracks = detectVideoTracks(locator, dir / "movie.m2ts");
  ASSERT_EQ(tracks.size(), 1u);
  EXPECT_EQ(tracks[0].index, 3000);

  tools::ToolLocator empty(tools::BundlePaths{"", "/nonexistent", ""}, {.which = (dir / "none").string()},
                           {(dir / "nothing/").string()});
  try {
    detectVideoTracks(empty, dir / "movie.m2ts");
    FAIL();
  } catch (const ConversionError &error) {
    EXPECT_EQ(error.kind(), ConversionError::Kind::toolNotFound);
  }
}

} // namespace
} // namespace kestrova::analysis
