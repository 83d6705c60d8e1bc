#include "SourcesFixture.h"
#include "core/Errors.h"
#include "pipeline/MvhevcConversion.h"
#include "support/MediaFiles.h"

#include <gtest/gtest.h>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::SourcesFixture;

SourceFileInfo sideBySideInfo(const fs::path &source) {
  SourceFileInfo info;
  info.url = source;
  info.videoWidth = 128;
  info.videoHeight = 48;
  info.frameRateNum = 24;
  info.frameRateDen = 1;
  info.duration = 0.3; // a film too short for chunks: the one-piece road
  info.stereoMode = Stereo3DMode::sideBySide();
  return info;
}

void makeSideBySide(const fs::path &file, const std::string &codec) {
  test::runFfmpeg({"-f", "lavfi", "-i", "testsrc=size=128x48:rate=24:duration=0.3", "-f", "lavfi", "-i",
                   "sine=duration=0.3", "-c:v", codec, "-c:a", "aac", "-metadata:s:v:0", "stereo_mode=left_right",
                   file.string()});
}

json converterScript(int status = 0, bool writes = true) {
  json steps = json::array({{{"stdout", "Frame 1/1 (100.0%)\n"}}});
  if (writes)
    steps.push_back({{"write_file", "{arg2}"}, {"content", "spatial"}});
  steps.push_back({{"exit", status}});
  return {{"steps", steps}};
}

TEST(SideBySidePipeline, SbsTargetCopiesByteForByte) {
  SourcesFixture f;
  fs::path source = f.dir / "movie.mkv";
  makeSideBySide(source, "libx264");
  auto result = f.convert(f.job(source, OutputTarget::sbs3D), sideBySideInfo(source));
  fs::path output = f.output / "movie_SBS.mkv";
  EXPECT_EQ(result.outputPath, output.string());
  EXPECT_EQ(test::readFile(output), test::readFile(source));
}

// Matroska is remuxed to QuickTime for the converter, tagged hvc1 only for HEVC (ffmpeg
// rejects that tag for H.264, which once failed every H.264 side-by-side .mkv before the
// converter was reached); QuickTime goes as it is.
TEST(SideBySidePipeline, VisionProRemuxesMatroskaOnlyAndTagsOnlyHevcAsHvc1) {
  struct Row {
    const char *name, *codec, *tag; // tag: none, no remux
  };
  for (const Row &row :
       {Row{"clip.mkv", "libx264", "avc1"}, Row{"clip.MKV", "libx265", "hvc1"}, Row{"clip.mov", "libx265", nullptr}}) {
    SCOPED_TRACE(std::string(row.name) + " " + row.codec);
    SourcesFixture f;
    // The converter fails, so the work directory keeps the remux to look at.
    f.tools.add("MVHEVCConverter", converterScript(3, false));
    fs::path source = f.dir / row.name;
    makeSideBySide(source, row.codec);
    EXPECT_THROW(f.convert(f.job(source, OutputTarget::visionPro), sideBySideInfo(source)), ConversionError);
    auto calls = f.tools.calls("MVHEVCConverter");
    ASSERT_EQ(calls.size(), 1u) << "the remux succeeded and the converter was reached";
    fs::path input = calls[0].args[0];
    EXPECT_EQ(input.filename() == "clip_remuxed.mov", row.tag != nullptr) << input;
    if (row.tag) {
      EXPECT_EQ(test::probe({"-v", "error", "-select_streams", "v:0", "-show_entries", "stream=codec_tag_string", "-of",
                             "csv=p=0"},
                            input),
                std::string(row.tag) + "\n");
    }
  }
}

TEST(SideBySidePipeline, ConverterFailures) {
  struct Row {
    const char *name;
    json script; // null: none in the tools folder
    ConversionError::Kind kind;
  };
  const std::vector<Row> rows = {
      {"exit status", converterScript(3), ConversionError::Kind::encodingFailed},
      {"no output", converterScript(0, false), ConversionError::Kind::encodingFailed},
      {"no converter", nullptr, ConversionError::Kind::toolNotFound},
  };
  for (const auto &row : rows) {
    SourcesFixture f;
    if (!row.script.is_null())
      f.tools.add("MVHEVCConverter", row.script);
    fs::path source = f.dir / "clip.mov";
    makeSideBySide(source, "libx265");
    try {
      f.convert(f.job(source, OutputTarget::visionPro), sideBySideInfo(source));
      FAIL() << row.name;
    } catch (const ConversionError &error) {
      EXPECT_EQ(error.kind(), row.kind) << row.name;
      EXPECT_NE(error.detail().find("MVHEVCConverter"), std::string::npos) << error.detail();
    }
  }
}

} // namespace
} // namespace kestrova::pipeline
