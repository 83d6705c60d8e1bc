#include "pipeline/EncoderParameters.h"
#include "pipeline/EncoderTable.h"

#include <gtest/gtest.h>

namespace kestrova::pipeline {
namespace {
using Args = std::vector<std::string>;

TEST(EncoderTable, TranslatesOnlyTheVideoToolboxPieces) {
  auto table = EncoderTable::forPlatform(false);
  const Args in{"-c:v", "h264_videotoolbox", "-q:v", "80", "-c:a", "aac_at", "-b:a", "448k"};
  EXPECT_EQ(table.translate(in),
            (Args{"-c:v", "libx264", "-crf", "21", "-preset", "medium", "-c:a", "aac", "-b:a", "448k"}));
  Args hevc{"-c:v", "hevc_videotoolbox", "-q:v", "45", "-tag:v", "hvc1"};
  EXPECT_EQ(table.translate(hevc), (Args{"-c:v", "libx265", "-crf", "31", "-preset", "fast", "-tag:v", "hvc1"}));
  Args faLine{"-c:v", "hevc_videotoolbox", "-q:v", "80", "-sc_threshold", "0", "-realtime", "0", "-tag:v", "hvc1"};
  EXPECT_EQ(table.translate(faLine),
            (Args{"-c:v", "libx265", "-crf", "23", "-preset", "fast", "-sc_threshold", "0", "-tag:v", "hvc1"}));
  Args copy{"-c:v", "copy", "-q:v", "3", "-c:a", "copy"};
  EXPECT_EQ(table.translate(copy), copy) << "a -q:v that is not VideoToolbox's stays";
  EXPECT_EQ(EncoderTable::forPlatform(true).translate(in), in);
}

TEST(EncoderTable, PresetsAreFourDistinctRatePoints) {
  for (bool hevc : {false, true}) {
    int previous = -1;
    for (int quality : {85, 80, 65, 45}) {
      int crf = EncoderTable::crfFor(quality, hevc);
      EXPECT_GT(crf, previous) << "lower quality must mean a higher CRF";
      EXPECT_LE(crf, 51);
      previous = crf;
    }
  }
}

} // namespace
} // namespace kestrova::pipeline
