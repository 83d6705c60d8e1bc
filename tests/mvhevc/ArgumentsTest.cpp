#include "Converter.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrova::mvhevc {
namespace {

TEST(Arguments, AcceptsTheFourPresetsAndRejectsNonsense) {
  struct Case {
    std::vector<const char *> args;
    bool valid;
    double quality;
    std::optional<int> cap;
  };
  const Case cases[] = {
      {{"in.mov", "out.mov", "0.88", "35"}, true, 0.88, 35},
      {{"in.mov", "out.mov", "0.85", "25"}, true, 0.85, 25},
      {{"in.mov", "out.mov", "0.7"}, true, 0.7, std::nullopt},
      {{"in.mov", "out.mov", "0.5"}, true, 0.5, std::nullopt},
      {{"in.mov", "out.mov", "1"}, true, 1.0, std::nullopt},
      {{"in.mov", "out.mov", "0"}, false, 0, std::nullopt},
      {{"in.mov", "out.mov", "1.5"}, false, 0, std::nullopt},
      {{"in.mov", "out.mov", "high"}, false, 0, std::nullopt},
      {{"in.mov", "out.mov", "0.85", "0"}, false, 0, std::nullopt},
      {{"in.mov", "out.mov", "0.85", "25x"}, false, 0, std::nullopt},
      {{"in.mov", "out.mov"}, false, 0, std::nullopt},
      {{"in.mov", "out.mov", "0.85", "25", "extra"}, false, 0, std::nullopt},
  };
  for (const auto &c : cases) {
    std::vector<const char *> argv = {"MVHEVCConverter"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const int argc = static_cast<int>(argv.size());
    if (!c.valid) {
      EXPECT_THROW(parseArguments(argc, argv.data()), std::invalid_argument) << argc;
      continue;
    }
    const auto request = parseArguments(argc, argv.data());
    EXPECT_DOUBLE_EQ(request.quality, c.quality);
    EXPECT_EQ(request.capMbps, c.cap);
    EXPECT_EQ(request.output, "out.mov");
  }
}

} // namespace
} // namespace kestrova::mvhevc
