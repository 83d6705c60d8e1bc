#include "SourcesFixture.h"
#include "core/Errors.h"
#include "pipeline/MvhevcConversion.h"
#include "tools/Process.h"

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

TEST(SideBySidePipeline, SbsTargetCopiesByteForByteAndNeverReplaces) {
  SourcesFixture f;
  fs::path source = f.dir / "movie.mkv";
  makeSideBySide(source, "libx264");
  auto result = f.convert(f.job(source, OutputTarget::sbs3D), sideBySideInfo(source));
  fs::path output = f.output / "movie_SBS.mkv";
  EXPECT_EQ(result.outputPath, output.string());
  EXPECT_EQ(test::readFile(output), test::readFile(source));

  test::writeFile(output, "the user's own file");
  EXPECT_THROW(f.convert(f.job(source, OutputTarget::sbs3D), sideBySideInfo(source)), OutputExistsError);
  EXPECT_EQ(test::readFile(output), "the user's own file");
}

TEST(SideBySidePipeline, VisionProRemuxesMatroskaOnly) {
  struct Row {
    const char *name;
    const char *codec;
    bool remuxed;
  };
  const Row rows[] = {{"clip.MKV", "libx265", true}, {"clip.mov", "libx265", false}};
  for (const auto &row : rows) {
    SourcesFixture f;
    f.tools.add("MVHEVCConverter", converterScript());
    fs::path source = f.dir / row.name;
    makeSideBySide(source, row.codec);
    auto job = f.job(source, OutputTarget::visionPro);
    job.qualityPreset = QualityPreset::high;
    auto result = f.convert(job, sideBySideInfo(source));
    EXPECT_EQ(result.outputPath, (f.output / "clip_MV-HEVC.mov").string());
    auto calls = f.tools.calls("MVHEVCConverter");
    ASSERT_EQ(calls.size(), 1u) << row.name;
    fs::path input = calls[0].args[0];
    EXPECT_EQ(input.filename() == "clip_remuxed.mov", row.remuxed) << input;
    // The converter writes under a temporary name beside the final one.
    fs::path written = calls[0].args[1];
    EXPECT_EQ(written.parent_path(), f.output);
    EXPECT_TRUE(written.filename().string().ends_with("-clip_MV-HEVC.mov")) << written;
    EXPECT_EQ(calls[0].args[2], "0.85");
  }
}

// The codec tag of the first video stream, as ffprobe reads it.
std::string videoTag(const fs::path &file) {
  tools::ProcessLaunch launch;
  launch.executable = "/usr/bin/ffprobe";
  launch.arguments = {"-v",  "error",   "-select_streams", "v:0", "-show_entries", "stream=codec_tag_string",
                      "-of", "csv=p=0", file.string()};
  auto output = tools::runAndCollect(launch);
  EXPECT_TRUE(output.status.success()) << output.standardError;
  return output.standardOutput.substr(0, output.standardOutput.find('\n'));
}

TEST(SideBySidePipeline, MatroskaRemuxTagsOnlyHevcAsHvc1) {
  // ffmpeg rejects the hvc1 tag for H.264, which made every H.264
  // side-by-side .mkv fail here before the converter was reached.
  struct Row {
    const char *codec;
    const char *tag;
  };
  for (const Row &row : {Row{"libx264", "avc1"}, Row{"libx265", "hvc1"}}) {
    SCOPED_TRACE(row.codec);
    SourcesFixture f;
    // The converter fails, so the work directory keeps the remux to look at.
    f.tools.add("MVHEVCConverter", converterScript(3, false));
    fs::path source = f.dir / "clip.mkv";
    makeSideBySide(source, row.codec);
    EXPECT_THROW(f.convert(f.job(source, OutputTarget::visionPro), sideBySideInfo(source)), ConversionError);
    auto calls = f.tools.calls("MVHEVCConverter");
    ASSERT_EQ(calls.size(), 1u) << "the remux succeeded and the converter was reached";
    fs::path remuxed = calls[0].args[0];
    EXPECT_EQ(remuxed.filename(), "clip_remuxed.mov");
    EXPECT_EQ(videoTag(remuxed), row.tag);
  }
}

TEST(SideBySidePipeline, ConverterFailures) {
  struct Row {
    const char *name;
    json script;
    std::string error;
  };
  const std::vector<Row> rows = {
      {"exit status", converterScript(3), "encodingFailed(\"MVHEVCConverter exited with code 3\")"},
      {"no output", converterScript(0, false), "encodingFailed(\"MVHEVCConverter did not produce output file\")"},
  };
  for (const auto &row : rows) {
    SourcesFixture f;
    f.tools.add("MVHEVCConverter", row.script);
    fs::path source = f.dir / "clip.mov";
    makeSideBySide(source, "libx265");
    try {
      f.convert(f.job(source, OutputTarget::visionPro), sideBySideInfo(source));
      FAIL() << row.name;
    } catch (const ConversionError &error) {
      EXPECT_EQ(error.debugText(), row.error) << row.name;
    }
  }
  SourcesFixture missing;
  fs::path source = missing.dir / "clip.mov";
  makeSideBySide(source, "libx265");
  try {
    missing.convert(missing.job(source, OutputTarget::visionPro), sideBySideInfo(source));
    FAIL();
  } catch (const ConversionError &error) {
    EXPECT_EQ(error.kind(), ConversionError::Kind::toolNotFound);
  }
}

} // namespace
} // namespace kestrova::pipeline
