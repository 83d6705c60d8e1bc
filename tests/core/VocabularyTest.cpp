#include "core/ConversionStage.h"
#include "core/Errors.h"
#include "core/OutputOptions.h"
#include "core/Records.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace kestrova {
namespace {

TEST(Vocabulary, ParsingAcceptsOnlyExactRawValues) {
  struct Row {
    const char *text;
    std::optional<QualityPreset> expected;
  };
  const Row rows[] = {
      {"Ultra High", QualityPreset::ultraHigh},
      {"Balanced", QualityPreset::medium},
      {"Smaller File", QualityPreset::low},
      {"ultra high", std::nullopt},
      {"Ultra High ", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto &row : rows)
    EXPECT_EQ(parseRaw<QualityPreset>(row.text), row.expected) << row.text;
  EXPECT_EQ(parseRaw<OutputCodec>("H.265 (HEVC)"), OutputCodec::h265);
  EXPECT_EQ(parseRaw<OutputTarget>("Apple Vision Pro (MV-HEVC)"), OutputTarget::visionPro);
}

TEST(Vocabulary, DurationText) {
  struct Row {
    double seconds;
    const char *text;
  };
  const Row rows[] = {
      {3725.9, "01:02:05"},
      {0.0, "00:00:00"},
      {360000.0, "100:00:00"},
      {59.999, "00:00:59"},
      {std::numeric_limits<double>::quiet_NaN(), "00:00:00"},
      {std::numeric_limits<double>::infinity(), "00:00:00"},
      {1e30, "00:00:00"},
  };
  for (const auto &row : rows) {
    SourceFileInfo info;
    info.duration = row.seconds;
    EXPECT_EQ(info.durationText(), row.text) << row.seconds;
  }
}

TEST(Vocabulary, SourceInfoEqualityCoversEveryField) {
  SourceFileInfo a;
  a.mvcTrackIndex = 1;
  SourceFileInfo b = a;
  EXPECT_EQ(a, b);
  b.mvcTrackIndex = 2;
  EXPECT_NE(a, b);
  b = a;
  b.stereoMode = Stereo3DMode::mvcSingleTrack(true);
  EXPECT_NE(a, b);
}

TEST(Vocabulary, ErrorDescriptionsAndDefaultTextualForm) {
  struct Row {
    ConversionError error;
    const char *description;
    const char *debug;
  };
  const Row rows[] = {
      {ConversionError::toolNotFound("ffmpeg not found"), "ffmpeg not found", "toolNotFound(\"ffmpeg not found\")"},
      {ConversionError::demuxFailed("x"), "Demux failed: x", "demuxFailed(\"x\")"},
      {ConversionError::decodingFailed("ldecod exited with code 1"), "Decoding failed: ldecod exited with code 1",
       "decodingFailed(\"ldecod exited with code 1\")"},
      {ConversionError::encodingFailed("y"), "Encoding failed: y", "encodingFailed(\"y\")"},
      {ConversionError::cancelled(), "Conversion was cancelled", "cancelled"},
  };
  for (const auto &row : rows) {
    EXPECT_STREQ(row.error.what(), row.description);
    EXPECT_EQ(errorDebugText(row.error), row.debug);
  }
  EXPECT_EQ(errorDebugText(std::runtime_error("plain")), "plain");
}

} // namespace
} // namespace kestrova
