#include "pipeline/ToolOutputParsers.h"
#include "demux/DemuxMeta.h"
#include "pipeline/HelperOutputParsers.h"
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
  friend bool operator==(const Recorder &, const Recorder &) = default;
};

/// Sends `pieces`, as reads of a tool's output, through a line reader to `parser`.
template <typename Parser> void feed(Parser &parser, const std::vector<std::string_view> &pieces) {
  tools::LineReader reader([&parser](std::string_view line) { parser.onLine(line); });
  for (auto piece : pieces)
    reader.feed(piece);
  reader.finish();
}
template <typename Parser> void feed(Parser &parser, std::string_view text) {
  feed(parser, std::vector<std::string_view>{text});
}

/// What each parser makes of one tool's output arriving in `pieces`: its
/// log lines and progress, with the lines it keeps (or a parsed report) logged last.
using ParseRun = std::function<Recorder(const std::vector<std::string_view> &pieces)>;

template <typename Parser, typename... Arguments> ParseRun parsing(Arguments... arguments) {
  return [=](const std::vector<std::string_view> &pieces) {
    Recorder r;
    Parser parser(arguments..., r.progress(), r.log());
    feed(parser, pieces);
    if constexpr (requires { parser.kept(); })
      for (const auto &line : parser.kept().lines())
        r.lines.push_back("kept: " + line);
    return r;
  };
}

TEST(ToolOutputParsers, RecordedOutputsParseTheSameWhereverTheReadsEnd) {
  const fs::path jm = KESTROVA_JM_RECORDINGS, tools = KESTROVA_TOOL_RECORDINGS;
  const ParseRun messages = [](const std::vector<std::string_view> &pieces) {
    Recorder r;
    LdecodMessageCollector collector(r.log());
    feed(collector, pieces);
    r.lines.push_back(collector.kept().joined());
    return r;
  };
  const ParseRun tsmuxerReport = [](const std::vector<std::string_view> &pieces) {
    std::string report;
    tools::LineReader reader([&report](std::string_view line) { (report += line) += '\n'; });
    for (auto piece : pieces)
      reader.feed(piece);
    reader.finish();
    const auto sub = demux::parseInformationReport(report);
    const auto separate = demux::parseSeparateTracks(report);
    Recorder r;
    r.lines.push_back(fmt::format("{} {} {} {} {} {}", sub.avcTrack, sub.avcSubTrack, sub.mvcTrack, sub.mvcSubTrack,
                                  separate.avcTrack, separate.mvcTrack));
    return r;
  };
  const struct {
    fs::path recording;
    ParseRun parse;
  } rows[] = {
      {jm / "jm19-clip24.stdout", parsing<LdecodFrameParser>(48, 0.5, 0.7, ConversionStage::decoding)},
      {jm / "ldecod-19.0-clip24-views.stdout.txt", parsing<LdecodFrameParser>(48, 0.5, 0.7, ConversionStage::decoding)},
      {jm / "jm19-readonly-cwd.stderr", messages},
      {tools / "ffmpeg-5.1-encode.stderr", parsing<FfmpegProgressParser>(3.0)},
      {tools / "ldecod-pipe-clip24-views.stderr", parsing<PipeToolLineParser>(24)},
      {tools / "mvhevcconverter-24-pairs.stdout", parsing<ConverterLineParser>()},
      {tools / "tsmuxer-info-clip24.m2ts.txt", tsmuxerReport},
      {tools / "tsmuxer-info-clip24_lr.mkv.txt", tsmuxerReport},
      {tools / "tsmuxer-demux-clip24.m2ts.txt", messages},
      {tools / "tsmuxer-demux-clip24_lr.mkv.txt", messages},
  };
  for (const auto &row : rows) {
    const std::string recorded = test::readFile(row.recording);
    ASSERT_FALSE(recorded.empty()) << row.recording;
    const std::string_view text = recorded;
    const Recorder whole = row.parse({text});
    EXPECT_FALSE(whole.lines.empty()) << row.recording;
    for (std::size_t cut = 0; cut <= text.size(); ++cut)
      ASSERT_EQ(row.parse({text.substr(0, cut), text.substr(cut)}), whole) << row.recording << " cut at " << cut;
    std::vector<std::string_view> bytes;
    for (std::size_t at = 0; at < text.size(); ++at)
      bytes.push_back(text.substr(at, 1));
    EXPECT_EQ(row.parse(bytes), whole) << row.recording << " byte by byte";
  }
}

TEST(ToolOutputParsers, LdecodFramesFollowTheRealDecoder) {
  // The JM 19 decoder's own output for 24 pairs: each frame number twice,
  // out of order, closing with "48 frames are decoded.".
  const std::string recorded = test::readFile(fs::path(KESTROVA_JM_RECORDINGS) / "jm19-clip24.stdout");
  Recorder r;
  LdecodFrameParser parser(48, 0.5, 0.7, ConversionStage::decoding, r.progress(), r.log());
  feed(parser, recorded);
  ASSERT_FALSE(r.reports.empty());
  EXPECT_TRUE(std::is_sorted(r.reports.begin(), r.reports.end(),
                             [](const auto &a, const auto &b) { return a.second < b.second; }));
  EXPECT_NEAR(r.reports.back().second, 0.7, 0.01) << "progress must reach the end of the decode range";
  EXPECT_GE(r.reports.size(), 46u);

  Recorder unknown;
  LdecodFrameParser noEstimate(0, 0.5, 0.7, ConversionStage::decoding, unknown.progress(), unknown.log());
  for (int picture = 0; picture < 100; ++picture)
    noEstimate.onLine("00150(B)");
  EXPECT_TRUE(unknown.reports.empty()) << "no estimate, no progress";
}

TEST(ToolOutputParsers, FfmpegProgressOverTheEncodeRange) {
  Recorder r;
  FfmpegProgressParser parser(40, r.progress(), r.log());
  const std::string first = "frame=   96 fps= 48 q=-0.0 size=  1024kB time=00:00:04.00 bitrate=2097.2kbits/s speed=2x";
  const std::string second = "frame=  120 fps= 48 q=-0.0 size=  1280kB time=00:00:05.00 bitrate=2097.2kbits/s speed=2x";
  // A Latin-1 byte in the same read as progress costs nothing but itself.
  feed(parser, "Input #0, from 'caf\xe9.mkv':\r" + first + "\r" + second + "\r");
  ASSERT_EQ(r.reports.size(), 2u);
  EXPECT_DOUBLE_EQ(r.reports[0].second, 0.715);
  EXPECT_DOUBLE_EQ(r.reports[1].second, 0.71875);
  feed(parser, "time=N/A speed=N/A\rtime=00:01:00.00 done\n");
  EXPECT_DOUBLE_EQ(r.reports.back().second, 0.85) << "capped at the range end";

  Recorder none;
  FfmpegProgressParser zero(0, none.progress(), none.log());
  feed(zero, "time=00:00:04.00 speed=1x\n");
  EXPECT_TRUE(none.reports.empty());
}

TEST(ToolOutputParsers, ConverterLinesAndEchoFilter) {
  Recorder r;
  ConverterLineParser parser(r.progress(), r.log());
  feed(parser, "Frame 3/60 (5.0%) \xff\nFrame 4/60\nEncoding done\n");
  ASSERT_EQ(r.reports.size(), 1u);
  EXPECT_EQ(r.reports[0].first, ConversionStage::convertingMVHEVC);
  EXPECT_DOUBLE_EQ(r.reports[0].second, 0.8565);

  Recorder echo;
  FfmpegEchoFilter filter(echo.log());
  feed(filter, "Input #0\n  frame=5 time=00:00:01.00 speed=2x  \nsize=1 time=00:00:02.00\n");
  EXPECT_EQ(echo.lines, std::vector<std::string>{"ffmpeg: frame=5 time=00:00:01.00 speed=2x"});
}

TEST(ToolOutputParsers, ParallelScriptPhasesAndErrorLines) {
  Recorder r;
  ParallelPhaseParser parser(ConversionStage::encodingMVHEVC, r.progress(), r.log());
  feed(parser, "Parallel pipeline v1\nPhase 1: scanning access units\nSplit into 4 segments\n"
               "  worker_2 segment 2 done (12.0s)\nPhase 2 time: 48s\nPhase 3: Concat 4 segments\nCOMPLETE\n"
               "Total time: 60s\nOutput: /out/film_SBS.mov\n");
  EXPECT_EQ(r.reports, (std::vector<std::pair<ConversionStage, double>>{{ConversionStage::decoding, 0.5},
                                                                        {ConversionStage::decoding, 0.55},
                                                                        {ConversionStage::encodingMVHEVC, 0.8},
                                                                        {ConversionStage::encodingMVHEVC, 0.85},
                                                                        {ConversionStage::encodingMVHEVC, 0.9}}));
  EXPECT_EQ(parser.kept().lines().front(), "Parallel pipeline v1") << "unmatched lines are kept";

  Recorder errors;
  ParallelErrorFilter filter(errors.log());
  feed(filter, "progress 10%\n  ERROR: worker_1 exited 1  \nsegment 3 FAILED\nError\n");
  EXPECT_EQ(errors.lines.size(), 2u) << "only the error lines";
}

TEST(ToolOutputParsers, PipeToolFramePairsAcrossDecodeAndEncode) {
  Recorder r;
  PipeToolLineParser parser(100, r.progress(), r.log());
  std::string text;
  for (int pairs : {5, 10, 20, 80, 150})
    text += "ldecod-pipe: " + std::to_string(pairs) + " frame pairs decoded\n";
  text += "max_dec_frame_buffering larger than MaxDpbSize\nedge264-pipe: WARNING: 1 picture(s) dropped\n"
          "yuv_hstack: 150 frames stacked\nldecod-pipe: 99999999999999999999 frame pairs decoded\n";
  feed(parser, text);
  ASSERT_EQ(r.reports.size(), 5u) << "a count too large to read reports nothing";
  EXPECT_EQ(r.reports[0], std::make_pair(ConversionStage::decoding, 0.5 + 0.05 * 0.35));
  EXPECT_EQ(r.reports[2].first, ConversionStage::decoding) << "0.57 is still decoding";
  EXPECT_EQ(r.reports[3].first, ConversionStage::encoding) << "0.78 is past the decode range";
  EXPECT_DOUBLE_EQ(r.reports[4].second, 0.85) << "capped at the range end";
  EXPECT_EQ(parser.kept().joined(2),
            "yuv_hstack: 150 frames stacked\nldecod-pipe: 99999999999999999999 frame pairs decoded");
}

} // namespace
} // namespace kestrova::pipeline
