#include "core/Records.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace kestrova {
namespace {

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
  };
  for (const auto &row : rows) {
    SourceFileInfo info;
    info.duration = row.seconds;
    EXPECT_EQ(info.durationText(), row.text) << row.seconds;
  }
}

} // namespace
} // namespace kestrova
