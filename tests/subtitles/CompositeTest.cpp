#include "SubtitleBurner.h"

#include <gtest/gtest.h>

namespace kestrova::subtitles {
namespace {

constexpr int kWidth = 16, kHeight = 4;

// A grey 4:2:0 picture and the view of it the burner writes through.
struct Picture {
  std::vector<std::uint8_t> y = std::vector<std::uint8_t>(kWidth * kHeight, 100);
  std::vector<std::uint8_t> cb = std::vector<std::uint8_t>(kWidth * kHeight / 4, 128);
  std::vector<std::uint8_t> cr = std::vector<std::uint8_t>(kWidth * kHeight / 4, 128);
  PictureView view() { return {{y.data(), cb.data(), cr.data()}, {kWidth, kWidth / 2, kWidth / 2}, kWidth, kHeight}; }
};

// One column of two opaque pixels (Y 200, Cb 240) at x = 4, rows 0 and 1.
SubtitleCue column(std::uint8_t alpha) {
  SubtitleBitmap bitmap{4, 0, 1, 2, {200, 200}, {240, 240}, {128, 128}, {alpha, alpha}};
  return {0, 1, {bitmap}};
}

TEST(Composite, EveryShiftMovesLumaByThatManyPixelsAndBlendsChromaByCoverage) {
  struct Row {
    int shift;
    std::uint8_t alpha;
    int lumaColumn;    // -1: the column is off the picture
    std::uint8_t luma; // there
    int chromaColumn;
    std::uint8_t cb; // there: half of its 2x2 block covered
  };
  const Row rows[] = {
      {0, 255, 4, 200, 2, 184}, {1, 255, 5, 200, 2, 184},   {-1, 255, 3, 200, 1, 184}, {3, 128, 7, 150, 3, 156},
      {-5, 255, -1, 0, -1, 0},  {11, 255, 15, 200, 7, 184}, {12, 255, -1, 0, -1, 0},
  };
  for (const auto &row : rows) {
    Picture picture;
    composite(picture.view(), column(row.alpha), row.shift);
    for (int x = 0; x < kWidth; ++x) {
      const std::uint8_t want = x == row.lumaColumn ? row.luma : 100;
      EXPECT_EQ(picture.y[x], want) << "shift " << row.shift << ", x " << x;
      EXPECT_EQ(picture.y[2 * kWidth + x], 100) << "shift " << row.shift << ", row 2";
    }
    for (int cx = 0; cx < kWidth / 2; ++cx) {
      EXPECT_EQ(picture.cb[cx], cx == row.chromaColumn ? row.cb : 128) << "shift " << row.shift << ", cx " << cx;
    }
  }
}

} // namespace
} // namespace kestrova::subtitles
