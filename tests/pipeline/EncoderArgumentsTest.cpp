#include "pipeline/EncoderParameters.h"
#include "pipeline/EncoderTable.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrova::pipeline {
namespace {
using Args = std::vector<std::string>;

bool has(const Args &arguments, const Args &part) {
  return std::search(arguments.begin(), arguments.end(), part.begin(), part.end()) != arguments.end();
}

// QuickTime files are HEVC whatever codec is asked for; Matroska keeps the choice.
TEST(EncoderArguments, TheContainerDecidesTheCodecOfQuickTimeFiles) {
  const auto codecOf = [](OutputCodec codec, const char *output) {
    return videoArguments(QualityPreset::high, codec, output).at(1);
  };
  EXPECT_EQ(codecOf(OutputCodec::h264, "x_SBS.mkv"), "h264_videotoolbox");
  EXPECT_EQ(codecOf(OutputCodec::h264, "x_SBS.MOV"), "hevc_videotoolbox");
  EXPECT_EQ(codecOf(OutputCodec::h265, "x_SBS.mkv"), "hevc_videotoolbox");
}

// Without VideoToolbox only its pieces change: the encoder, its quality and
// its AAC encoder; whatever else the list holds stays in place.
TEST(EncoderTable, TranslatesOnlyTheVideoToolboxPieces) {
  const auto table = EncoderTable::forPlatform(false);
  const Args in{"-i",   "in.mkv", "-c:v",   "h264_videotoolbox", "-q:v", "80", "-realtime", "0", "-maxrate", "30M",
                "-c:a", "aac_at", "out.mkv"};
  const Args out = table.translate(in);
  EXPECT_TRUE(has(out, {"-c:v", "libx264", "-crf"}));
  EXPECT_TRUE(has(out, {"-maxrate", "30M", "-c:a", "aac", "out.mkv"}));
  for (const char *gone : {"h264_videotoolbox", "-q:v", "-realtime", "aac_at"})
    EXPECT_FALSE(has(out, {gone})) << gone;
  const Args copy{"-c:v", "copy", "-q:v", "3", "-c:a", "copy"};
  EXPECT_EQ(table.translate(copy), copy) << "a -q:v that is not VideoToolbox's stays";
  EXPECT_EQ(EncoderTable::forPlatform(true).translate(in), in);
}

} // namespace
} // namespace kestrova::pipeline
