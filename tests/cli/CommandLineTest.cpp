#include "cli/CommandLine.h"

#include <gtest/gtest.h>

namespace kestrova::cli {
namespace {

TEST(CommandLine, DurationValues) {
  struct Row {
    const char *text;
    std::optional<std::int64_t> value;
  };
  const Row rows[] = {
      {"90", 90},
      {"+90", 90},
      {"-5", -5},
      {"0", 0},
      {"abc", std::nullopt},
      {"", std::nullopt},
      {"1.5", std::nullopt},
      {" 90", std::nullopt},
      {"90s", std::nullopt},
      {"+", std::nullopt},
      {"--5", std::nullopt},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt},
      {"99999999999999999999", std::nullopt},
  };
  for (const auto &row : rows)
    EXPECT_EQ(parseDurationValue(row.text), row.value) << '"' << row.text << '"';
}

TEST(CommandLine, OptionsInAnyOrderFirstOccurrenceWins) {
  auto line = parseCommandLine(
      {"kestrova", "--output", "out", "--input", "a.m2ts", "--auto-convert", "--input", "b.m2ts", "--duration", "90"});
  ASSERT_TRUE(line);
  EXPECT_EQ(line->input, "a.m2ts");
  EXPECT_EQ(line->output, "out");
  EXPECT_EQ(line->durationLimit, 90);

  EXPECT_FALSE(parseCommandLine({"kestrova", "--auto-convert", "--input"}));
  EXPECT_FALSE(parseCommandLine({"kestrova", "--auto-convert"}));
  auto noOutput = parseCommandLine({"kestrova", "--input", "x", "--auto-convert", "--output"});
  ASSERT_TRUE(noOutput);
  EXPECT_EQ(noOutput->output, std::nullopt);
  EXPECT_EQ(parseCommandLine({"k", "--input", "x", "--duration", "1.5"})->durationLimit, std::nullopt);
}

TEST(CommandLine, WindowInputsAreTheInputThenBareArguments) {
  struct Case {
    std::vector<std::string> arguments;
    std::vector<std::string> files;
  };
  const Case cases[] = {
      {{"kestrova"}, {}},
      {{"kestrova", "a.m2ts", "b.mkv"}, {"a.m2ts", "b.mkv"}},
      {{"kestrova", "--output", "out", "a.m2ts", "--input", "x.mkv"}, {"x.mkv", "a.m2ts"}},
      {{"kestrova", "--duration", "120", "--verbose", "a.mkv"}, {"a.mkv"}},
  };
  for (const auto &c : cases)
    EXPECT_EQ(windowInputs(c.arguments), c.files) << c.arguments.size();
}

TEST(CommandLine, AutoConvertIsLookedForAfterTheProgramName) {
  EXPECT_TRUE(wantsAutoConvert({"kestrova", "--input", "x", "--auto-convert"}));
  EXPECT_FALSE(wantsAutoConvert({"--auto-convert"}));
  EXPECT_FALSE(wantsAutoConvert({"kestrova", "--auto-convert=yes"}));
}

TEST(CommandLine, StoredTextsMapBySubstring) {
  EXPECT_EQ(qualityFromSetting("Ultra High"), QualityPreset::ultraHigh);
  EXPECT_EQ(qualityFromSetting("High Quality"), QualityPreset::high);
  EXPECT_EQ(qualityFromSetting("Balanced"), QualityPreset::medium);
  EXPECT_EQ(qualityFromSetting("Smaller File"), QualityPreset::medium);
  EXPECT_EQ(targetFromSetting("Apple Vision Pro (MV-HEVC)"), OutputTarget::visionPro);
  EXPECT_EQ(targetFromSetting("SBS 3D (MKV)"), OutputTarget::sbs3D);
  EXPECT_EQ(targetFromSetting("vision"), OutputTarget::sbs3D);
}

} // namespace
} // namespace kestrova::cli
