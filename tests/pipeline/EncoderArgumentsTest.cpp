#include "pipeline/EncoderTable.h"

#include <gtest/gtest.h>

namespace kestrova::pipeline {
namespace {

// The argument lists themselves are checked where they matter: by the real
// encoders in the conversion tests.
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
