#include "nal/SequenceParameterSet.h"
#include "StreamBuilder.h"

#include <gtest/gtest.h>

namespace kestrova::streaming::test {
namespace {

using nal::parseSequenceParameterSet;

std::optional<nal::SequenceParameters> parse(const Bytes &unit) {
  // Past the four-byte start code and the header byte.
  return parseSequenceParameterSet({unit.data() + 5, unit.size() - 5});
}

TEST(SequenceParameterSet, GivesTheCroppedSizeTheDecoderWrites) {
  struct Row {
    const char *name;
    SpsFields fields;
    int width, height;
    std::size_t frameBytes;
  };
  SpsFields bluRay{100, 1, 8, 120, 68, true, 0, 4, false, 0};
  SpsFields main720{77, 1, 8, 80, 45, true, 0, 0, false, 2};
  SpsFields interlaced{100, 1, 8, 120, 34, false, 0, 2, false, 0};
  SpsFields scaling{100, 1, 8, 120, 68, true, 0, 4, true, 1};
  SpsFields tenBit{100, 1, 10, 4, 2, true, 0, 0, false, 0};
  SpsFields mono{100, 0, 8, 4, 2, true, 0, 0, false, 0};
  const Row rows[] = {
      {"Blu-ray 1080p, High profile, 8 rows cropped", bluRay, 1920, 1080, 1920 * 1080 * 3 / 2},
      {"Main profile 720p, no cropping, POC type 2", main720, 1280, 720, 1280 * 720 * 3 / 2},
      {"field-coded 1080i: map units are field MB pairs", interlaced, 1920, 1080, 1920 * 1080 * 3 / 2},
      {"scaling lists and POC type 1 are read past", scaling, 1920, 1080, 1920 * 1080 * 3 / 2},
      {"10-bit samples take two bytes", tenBit, 64, 32, 64 * 32 * 3},
      {"4:0:0 is written with blank 4:2:0 chroma", mono, 64, 32, 64 * 32 * 3 / 2},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    auto format = parse(sequenceParameterSet(row.fields));
    ASSERT_TRUE(format);
    EXPECT_EQ(format->width, row.width);
    EXPECT_EQ(format->height, row.height);
    EXPECT_EQ(format->frameBytes(), row.frameBytes);
  }
}

TEST(SequenceParameterSet, RejectsTruncatedAndImpossibleUnits) {
  Bytes unit = sequenceParameterSet(SpsFields{});
  for (std::size_t keep : {6u, 8u, 10u}) {
    SCOPED_TRACE(keep);
    EXPECT_FALSE(parseSequenceParameterSet({unit.data() + 5, keep - 5}));
  }
  SpsFields overCropped;
  overCropped.cropBottom = 8; // 16 rows of a 32-row picture... and then some
  overCropped.heightInMapUnits = 1;
  EXPECT_FALSE(parse(sequenceParameterSet(overCropped)));
}

} // namespace
} // namespace kestrova::streaming::test
