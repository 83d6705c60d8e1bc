#include "Converter.h"
#include "PartialFile.h"

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
      {{"in.mov", "out.mov", "0.85", "--hfov-degrees"}, false, 0, std::nullopt},
      {{"in.mov", "out.mov", "0.85", "--baseline-mm", "0"}, false, 0, std::nullopt},
      {{"in.mov", "out.mov", "0.85", "--hfov-degrees", "180"}, false, 0, std::nullopt},
      {{"in.mov", "out.mov", "0.85", "--disparity-adjustment", "1.5"}, false, 0, std::nullopt},
      {{"in.mov", "out.mov", "0.85", "--eyes", "2"}, false, 0, std::nullopt},
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

TEST(Arguments, StereoOptionsGoAnywhereAndDefaultToTheUsualCamera) {
  const char *defaults[] = {"MVHEVCConverter", "in.mov", "out.mov", "0.85"};
  const auto plain = parseArguments(4, defaults);
  EXPECT_EQ(plain.stereo.baselineMicrometres, 64000U);
  EXPECT_EQ(plain.stereo.fieldOfViewMilliDegrees, 60000U);
  EXPECT_EQ(plain.stereo.disparityAdjustment, 0);
  const char *given[] = {
      "MVHEVCConverter",        "--baseline-mm", "63.5", "in.mov", "out.mov", "0.85", "25", "--hfov-degrees", "90",
      "--disparity-adjustment", "-200"};
  const auto request = parseArguments(11, given);
  EXPECT_EQ(request.capMbps, 25);
  EXPECT_EQ(request.stereo.baselineMicrometres, 63500U);
  EXPECT_EQ(request.stereo.fieldOfViewMilliDegrees, 90000U);
  EXPECT_EQ(request.stereo.disparityAdjustment, -200);
}

TEST(PartialFile, TemporaryNamesStayWithin255BytesAndWholeCharacters) {
  const std::string eAcute = "\xC3\xA9"; // two bytes in UTF-8
  std::string accented;
  while (accented.size() < 240) {
    accented += eAcute;
  }
  for (const auto &name : {std::string("film_MV-HEVC.mov"), std::string(240, 'a') + "_MV-HEVC.mov",
                           std::string(255, 'b'), accented + "_MV-HEVC.mov"}) {
    const auto temporary = temporaryName(name, 4194303);
    EXPECT_LE(temporary.size(), 255U) << name;
    EXPECT_TRUE(temporary.ends_with(".partial-4194303")) << temporary;
    const auto stem = temporary.substr(1, temporary.size() - 1 - std::string(".partial-4194303").size());
    EXPECT_TRUE(name.starts_with(stem)) << temporary;
    if (name.starts_with(eAcute)) {
      EXPECT_EQ(stem.size() % 2, 0U) << "a character cut in two";
    }
  }
  EXPECT_EQ(temporaryName("short.mov", 12), ".short.mov.partial-12");
}

} // namespace
} // namespace kestrova::mvhevc
