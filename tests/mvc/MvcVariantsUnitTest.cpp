#include "pipeline/DirectMvhevcPipe.h"
#include "pipeline/HelperOutputParsers.h"
#include "pipeline/ParallelDecode.h"
#include "pipeline/SbsPipeDecode.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;

/// Records what a parser logs and reports.
struct Recorder {
  std::vector<std::string> logged;
  std::vector<std::pair<ConversionStage, double>> reported;
  LogFn log() {
    return [this](const std::string &line) { logged.push_back(line); };
  }
  ProgressReport progress() {
    return [this](ConversionStage stage, double f) { reported.emplace_back(stage, f); };
  }
};

/// Feeds `text` through a line reader in reads of `size` bytes.
template <typename Parser> void feedInChunks(Parser &parser, std::string_view text, std::size_t size) {
  tools::LineReader reader([&parser](std::string_view line) { parser.onLine(line); });
  for (std::size_t at = 0; at < text.size(); at += size)
    reader.feed(text.substr(at, size));
  reader.finish();
}

TEST(ParallelPhaseParser, LogsPhaseLinesAndReportsTheirProgress) {
  const std::string output = "Parallel pipeline v1\n"
                             "Phase 1: scanning access units\n"
                             "Split into 4 segments\n"
                             "  worker_2 segment 2 done (12.0s)\n"
                             "Phase 2 time: 48s\n"
                             "Phase 3: Concat 4 segments\n"
                             "COMPLETE\n"
                             "Total time: 60s\n"
                             "Output: /out/film_SBS.mov\n";
  Recorder r;
  ParallelPhaseParser parser(ConversionStage::encodingMVHEVC, r.progress(), r.log());
  feedInChunks(parser, output, 5);
  EXPECT_EQ(r.reported, (std::vector<std::pair<ConversionStage, double>>{{ConversionStage::decoding, 0.5},
                                                                         {ConversionStage::decoding, 0.55},
                                                                         {ConversionStage::encodingMVHEVC, 0.8},
                                                                         {ConversionStage::encodingMVHEVC, 0.85},
                                                                         {ConversionStage::encodingMVHEVC, 0.9}}));
  EXPECT_EQ(parser.kept().lines().front(), "Parallel pipeline v1") << "unmatched lines are kept";
}

TEST(ParallelErrorFilter, LogsOnlyErrorLines) {
  Recorder r;
  ParallelErrorFilter filter(r.log());
  feedInChunks(filter, std::string_view("progress 10%\n  ERROR: worker_1 exited 1  \nsegment 3 FAILED\nError\n"), 1000);
  EXPECT_EQ(r.logged,
            (std::vector<std::string>{"\u26a0\ufe0f ERROR: worker_1 exited 1", "\u26a0\ufe0f segment 3 FAILED"}));
}

TEST(PipeToolLineParser, TurnsFramePairsIntoProgressAcrossDecodeAndEncode) {
  Recorder r;
  PipeToolLineParser parser(100, r.progress(), r.log());
  std::string text;
  for (int pairs : {5, 10, 20, 80, 150})
    text += "ldecod-pipe: " + std::to_string(pairs) + " frame pairs decoded\n";
  text += "max_dec_frame_buffering larger than MaxDpbSize\nedge264-pipe: WARNING: 1 picture(s) dropped\n"
          "yuv_hstack: 150 frames stacked\nldecod-pipe: 99999999999999999999 frame pairs decoded\n";
  feedInChunks(parser, text, text.size());
  ASSERT_EQ(r.reported.size(), 5u) << "a count too large to read reports nothing";
  EXPECT_EQ(r.reported[0], std::make_pair(ConversionStage::decoding, 0.5 + 0.05 * 0.35));
  EXPECT_EQ(r.reported[2].first, ConversionStage::decoding) << "0.57 is still decoding";
  EXPECT_EQ(r.reported[3].first, ConversionStage::encoding) << "0.78 is past the decode range";
  EXPECT_DOUBLE_EQ(r.reported[4].second, 0.85) << "capped at the range end";
  EXPECT_EQ(parser.kept().joined(2),
            "yuv_hstack: 150 frames stacked\nldecod-pipe: 99999999999999999999 frame pairs decoded");
}

} // namespace
} // namespace kestrova::pipeline
