#include "pipeline/ToolOutputParsers.h"
#include "core/NumberText.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <fmt/format.h>
#include <gtest/gtest.h>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;

struct Recorder {
  std::vector<std::pair<ConversionStage, double>> reports;
  std::vector<std::string> lines;
  ProgressReport progress() {
    return [this](ConversionStage stage, double fraction) { reports.emplace_back(stage, fraction); };
  }
  LogFn log() {
    return [this](const std::string &line) { lines.push_back(line); };
  }
};

TEST(ToolOutputParsers, TimeValues) {
  struct Row {
    const char *text;
    std::optional<double> seconds;
  };
  const Row rows[] = {{"00:01:23.45", 83.45}, {"01:00:00.00", 3600.0}, {"N/A", std::nullopt}, {"12.5", std::nullopt},
                      {"00:00:04.00", 4.0},   {"::00:01:02", 62.0},    {"1::2:3", 3723.0},    {"a:b:c", std::nullopt}};
  for (const auto &row : rows)
    EXPECT_EQ(parseTimeValue(row.text), row.seconds) << row.text;
  EXPECT_EQ(timeValueInLine("frame=  10 fps=0.0 q=-0.0 size= 0kB time=00:00:04.00 bitrate=N/A speed=8x"), 4.0);
  EXPECT_EQ(timeValueInLine("size=N/A time=N/A bitrate=N/A"), std::nullopt);
  EXPECT_EQ(shortestDecimalText(5400), "5400.0");
  EXPECT_EQ(shortestDecimalText(0.1), "0.1");
  EXPECT_EQ(shortestDecimalText(40.25), "40.25");
}

TEST(ToolOutputParsers, LdecodFramesFollowTheRealDecoder) {
  // The JM 19 decoder's own output for 24 pairs: each frame number twice,
  // out of order, closing with "48 frames are decoded.".
  const std::string recorded = test::readFile(fs::path(KESTROVA_JM_RECORDINGS) / "jm19-clip24.stdout");
  Recorder r;
  LdecodFrameParser parser(48, 0.5, 0.7, ConversionStage::decoding, r.progress(), r.log());
  // Uneven chunks: a line cut in two is two lines, neither a picture line.
  for (std::size_t at = 0; at < recorded.size(); at += 4096)
    parser.feed(std::string_view(recorded).substr(at, 4096));
  ASSERT_FALSE(r.reports.empty());
  EXPECT_TRUE(std::is_sorted(r.reports.begin(), r.reports.end(),
                             [](const auto &a, const auto &b) { return a.second < b.second; }));
  EXPECT_NEAR(r.reports.back().second, 0.7, 0.01) << "progress must reach the end of the decode range";
  EXPECT_GE(r.reports.size(), 46u);
  EXPECT_EQ(r.lines.back(), "48 frames are decoded.");

  Recorder hundreds;
  LdecodFrameParser many(1000, 0.5, 0.7, ConversionStage::decoding, hundreds.progress(), hundreds.log());
  for (int picture = 0; picture < 250; ++picture)
    many.feed(fmt::format("{:05d}( P )        0     0    28                             4:2:0       1\n", picture / 2));
  many.feed("500 frames are decoded.\n");
  EXPECT_EQ(hundreds.lines,
            (std::vector<std::string>{"ldecod: decoded frame 100 / ~1000...", "ldecod: decoded frame 200 / ~1000...",
                                      "500 frames are decoded."}));

  Recorder unknown;
  LdecodFrameParser noEstimate(0, 0.5, 0.7, ConversionStage::decoding, unknown.progress(), unknown.log());
  for (int picture = 0; picture < 100; ++picture)
    noEstimate.feed("00150(B)\n");
  EXPECT_TRUE(unknown.reports.empty());
  EXPECT_EQ(unknown.lines, std::vector<std::string>{"ldecod: decoded frame 100..."});
}

TEST(ToolOutputParsers, LdecodMessagesKeepTheLastFiftyAndLogWarnings) {
  Recorder r;
  LdecodMessageCollector collector(r.log());
  for (int i = 0; i < 60; ++i)
    collector.feed(fmt::format("  message {}\r\n", i));
  collector.feed("Warning: RefPicList0[ 0 ] is equal to 'no reference picture'\nwarning lower case\n");
  auto kept = collector.lines();
  ASSERT_EQ(kept.size(), 50u);
  EXPECT_EQ(kept.front(), "message 12");
  EXPECT_EQ(kept.back(), "warning lower case");
  EXPECT_EQ(r.lines, std::vector<std::string>{"Warning: RefPicList0[ 0 ] is equal to 'no reference picture'"});
}

TEST(ToolOutputParsers, FfmpegProgressOverTheEncodeRange) {
  Recorder r;
  FfmpegProgressParser parser(40, r.progress(), r.log());
  const std::string first = "frame=   96 fps= 48 q=-0.0 size=  1024kB time=00:00:04.00 bitrate=2097.2kbits/s speed=2x";
  const std::string second = "frame=  120 fps= 48 q=-0.0 size=  1280kB time=00:00:05.00 bitrate=2097.2kbits/s speed=2x";
  parser.feed("ffmpeg version 5.1\n" + first + "\r" + second + "\r");
  ASSERT_EQ(r.reports.size(), 2u);
  EXPECT_DOUBLE_EQ(r.reports[0].second, 0.715);
  EXPECT_DOUBLE_EQ(r.reports[1].second, 0.71875);
  EXPECT_EQ(r.lines,
            (std::vector<std::string>{"ffmpeg stderr: ffmpeg version 5.1", "ffmpeg progress tracking: duration=40.0s",
                                      "ffmpeg: 10% \u2014 " + first}));
  parser.feed("time=N/A speed=N/A\rtime=00:01:00.00 done\n");
  EXPECT_DOUBLE_EQ(r.reports.back().second, 0.85) << "capped at the range end";
  EXPECT_EQ(r.lines.back(), "ffmpeg: 100% \u2014 time=00:01:00.00 done");
  EXPECT_EQ(parser.lines().size(), 5u);

  Recorder none;
  FfmpegProgressParser zero(0, none.progress(), none.log());
  zero.feed("time=00:00:04.00 speed=1x\n");
  EXPECT_TRUE(none.reports.empty());
  EXPECT_EQ(none.lines.size(), 2u) << "the first-line lines still come";
  EXPECT_EQ(zero.lines().size(), 1u);

  Recorder invalid;
  FfmpegProgressParser bad(10, invalid.progress(), invalid.log());
  bad.feed("\xff time=00:00:04.00\n");
  EXPECT_TRUE(invalid.lines.empty()) << "a chunk that is not UTF-8 is ignored whole";
}

TEST(ToolOutputParsers, FfmpegLogPoller) {
  test::TempDir dir;
  Recorder r;
  EXPECT_EQ(pollFfmpegLog(dir.path(), 30, r.progress()), 0);
  std::string log(10000, 'x');
  log += "frame=1 time=00:00:03.00 speed=1x\rframe=2 time=00:00:15.00 speed=1x\r";
  test::writeFile(dir / "ffmpeg.log", log);
  EXPECT_EQ(pollFfmpegLog(dir.path(), 30, r.progress()), 15.0);
  ASSERT_EQ(r.reports.size(), 1u);
  EXPECT_DOUBLE_EQ(r.reports[0].second, 0.5);
  test::writeFile(dir / "ffmpeg.log", "time=N/A");
  EXPECT_EQ(pollFfmpegLog(dir.path(), 30, r.progress()), 0);
}

TEST(ToolOutputParsers, ConverterLinesAndEchoFilter) {
  Recorder r;
  ConverterLineParser parser(r.progress(), r.log());
  parser.feed("Frame 3/60 (5.0%)\nFrame 4/60\nEncoding done\n");
  ASSERT_EQ(r.reports.size(), 1u);
  EXPECT_EQ(r.reports[0].first, ConversionStage::convertingMVHEVC);
  EXPECT_DOUBLE_EQ(r.reports[0].second, 0.8565);
  EXPECT_EQ(r.lines, (std::vector<std::string>{"Frame 3/60 (5.0%)", "Frame 4/60", "Encoding done"}));

  Recorder echo;
  FfmpegEchoFilter filter(echo.log());
  filter.feed("Input #0\n  frame=5 time=00:00:01.00 speed=2x  \nsize=1 time=00:00:02.00\n");
  EXPECT_EQ(echo.lines, std::vector<std::string>{"ffmpeg: frame=5 time=00:00:01.00 speed=2x"});
}

} // namespace
} // namespace kestrova::pipeline
