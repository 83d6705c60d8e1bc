#include "pipeline/ProgressPlan.h"
#include "demux/Demux.h"
#include "pipeline/SbsPipeDecode.h"

#include <gtest/gtest.h>

namespace kestrova::pipeline {
namespace {

using S = ConversionStage;

struct Report {
  S stage;
  double raw;
  double shown;
};

TEST(ProgressPlan, EachRoadFillsItsStepsInOrderAndNeverGoesBack) {
  struct Case {
    const char *what;
    ProgressRoad road;
    std::vector<Report> reports;
  };
  const Case cases[] = {
      {"one encode: reading is a sliver, the pictures carry the rest",
       ProgressRoad::mvcOneEncode,
       {{S::demuxing, 0.0, 0.0},
        {S::demuxing, 0.15, 0.015},
        {S::demuxing, 0.3, 0.03},
        {S::convertingMVHEVC, 0.3, 0.03},
        {S::convertingMVHEVC, 0.64, 0.515},
        {S::convertingMVHEVC, 0.98, 1.0},
        {S::complete, 1.0, 1.0}}},
      {"a late report of an earlier step does not move the value back",
       ProgressRoad::mvcOneEncode,
       {{S::convertingMVHEVC, 0.64, 0.515}, {S::demuxing, 0.1, 0.515}, {S::convertingMVHEVC, 0.5, 0.515}}},
      {"the piped decode and encode are one pass over the pictures",
       ProgressRoad::mvcPiped,
       {{S::demuxing, 0.3, 0.03}, {S::interleaving, 0.3, 0.03}, {S::decoding, 0.5, 0.05}, {S::encoding, 0.9, 1.0}}},
      {"then the conversion from the side-by-side file",
       ProgressRoad::mvcPipedThenSpatial,
       {{S::encoding, 0.85, 0.45}, {S::convertingMVHEVC, 0.85, 0.45}, {S::convertingMVHEVC, 0.98, 1.0}}},
      {"a packed source's step starts at zero whatever its first report says",
       ProgressRoad::packedToSideBySide,
       {{S::encoding, 0.05, 0.0}, {S::encoding, 0.775, 0.5}, {S::complete, 1.0, 1.0}}},
      {"a stage the road does not take keeps the value",
       ProgressRoad::frameAlternate,
       {{S::encoding, 0.5, 0.5}, {S::demuxing, 0.2, 0.5}}},
  };
  for (const auto &c : cases) {
    ProgressPlan plan;
    plan.follow(c.road);
    for (const auto &r : c.reports) {
      const auto [stage, shown] = plan.shown(r.stage, r.raw);
      EXPECT_EQ(stage, r.stage) << c.what;
      EXPECT_NEAR(shown, r.shown, 1e-9) << c.what << " at " << r.raw;
    }
  }
}

TEST(ProgressPlan, ChangingRoadAfterReadingKeepsTheValueReached) {
  ProgressPlan plan;
  plan.follow(ProgressRoad::mvcOneEncode);
  plan.shown(S::demuxing, 0.3);
  plan.follow(ProgressRoad::mvcDiskBased);
  EXPECT_NEAR(plan.shown(S::interleaving, 0.3).second, 0.03, 1e-9);
  EXPECT_GT(plan.shown(S::decoding, 0.6).second, 0.05);
}

TEST(TsmuxerFraction, ReadsItsPercentLinesOnly) {
  const std::pair<const char *, std::optional<double>> rows[] = {
      {"42.5% complete", 0.425},     {"100.0% complete\r", 1.0},
      {"0.0% complete", 0.0},        {"Processed 120 video frames", std::nullopt},
      {"x% complete", std::nullopt}, {"250.0% complete", std::nullopt},
  };
  for (const auto &[line, fraction] : rows)
    EXPECT_EQ(demux::tsmuxerFraction(line), fraction) << line;
}

TEST(EstimatedFrames, CountsTheNearestPictureOfADuration) {
  struct Row {
    double seconds;
    std::int64_t num, den, frames;
  };
  const Row rows[] = {
      {1.001, 24000, 1001, 24}, // a playlist's 24 pairs, in ms: 23.99999…
      {45045.0 / 45000, 24000, 1001, 24},
      {7200.2, 24000, 1001, 172632},
      {0.01, 24, 1, 1},
      {-3, 24, 1, 1},
      {1e300, 24, 1, 9000000000000000000},
  };
  for (const auto &row : rows)
    EXPECT_EQ(estimatedFramesPerView(row.seconds, row.num, row.den), row.frames) << row.seconds;
}

} // namespace
} // namespace kestrova::pipeline
