#include "SourcesFixture.h"
#include "core/Errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;
using test::SourcesFixture;

SourceFileInfo frameAlternateInfo(const fs::path &source, bool rightFirst) {
  SourceFileInfo info;
  info.url = source;
  info.videoWidth = 64;
  info.videoHeight = 48;
  info.frameRateNum = 48;
  info.frameRateDen = 1;
  info.duration = 1.0;
  info.stereoMode = Stereo3DMode::frameAlternate(rightFirst);
  return info;
}

TEST(FrameAlternatePipeline, EvenFramesBecomeTheLeftEyeUnlessRightFirst) {
  for (bool rightFirst : {false, true}) {
    SourcesFixture f;
    fs::path source = f.dir / "fa.mkv";
    test::makeFrameAlternateSource(source);
    auto result = f.convert(f.job(source, OutputTarget::sbs3D), frameAlternateInfo(source, rightFirst));
    EXPECT_EQ(result.outputPath, (f.output / "fa_SBS.mkv").string());
    auto frames = test::halfBrightness(result.outputPath);
    ASSERT_GE(frames.size(), 20u);
    for (const auto &[left, right] : frames) {
      // Even source frames are dark, odd ones bright.
      EXPECT_LT(rightFirst ? right : left, 60) << "rightFirst=" << rightFirst;
      EXPECT_GT(rightFirst ? left : right, 190) << "rightFirst=" << rightFirst;
    }
    EXPECT_EQ(f.progress.back(), std::make_pair(ConversionStage::complete, 1.0));
    EXPECT_FALSE(fs::exists(result.tempDirectory)) << "work directory removed after success";
  }
}

TEST(FrameAlternatePipeline, HostileFileNamesConvertAndRunNothingElse) {
  SourcesFixture f;
  fs::path source = f.dir / "a $(touch SENTINEL) \"b\" 'c' `touch TICK` \\d\nnew line.mkv";
  test::makeFrameAlternateSource(source, 0.5);
  auto result = f.convert(f.job(source, OutputTarget::sbs3D), frameAlternateInfo(source, false));
  EXPECT_TRUE(fs::exists(result.outputPath));
  for (const auto &entry : fs::recursive_directory_iterator(f.dir.path())) {
    EXPECT_NE(entry.path().filename(), "SENTINEL");
    EXPECT_NE(entry.path().filename(), "TICK");
  }
  EXPECT_FALSE(fs::exists("SENTINEL"));
}

TEST(FrameAlternatePipeline, CorruptSourceFailsWithTheFfmpegLogTail) {
  SourcesFixture f;
  fs::path source = f.dir / "broken.mkv";
  test::writeFile(source, std::string(4096, 'x'));
  try {
    f.convert(f.job(source, OutputTarget::sbs3D), frameAlternateInfo(source, false));
    FAIL() << "a corrupt source must fail";
  } catch (const ConversionError &error) {
    EXPECT_EQ(error.kind(), ConversionError::Kind::decodingFailed);
    EXPECT_TRUE(error.detail().starts_with("ffmpeg (frame-alternate encoder) failed: ")) << error.detail();
    EXPECT_NE(error.detail().find("broken.mkv"), std::string::npos) << error.detail();
  }
}

TEST(FrameAlternatePipeline, OutputThatCannotBeWritten) {
  struct Row {
    const char *name;
    // Prepares the output folder; returns a guard to hold while converting.
    std::function<std::shared_ptr<void>(SourcesFixture &, ConversionJob &)> prepare;
    bool fileSystemError; // else the output's name is taken
  };
  const Row rows[] = {
      {"output folder is read-only",
       [](SourcesFixture &, ConversionJob &job) -> std::shared_ptr<void> {
         auto guard = std::make_shared<test::ImmutableFolder>(job.outputDirectory);
         return guard->applied() ? guard : nullptr;
       },
       true},
      {"output folder lies under a regular file",
       [](SourcesFixture &f, ConversionJob &job) -> std::shared_ptr<void> {
         test::writeFile(f.dir / "plain", "not a folder");
         job.outputDirectory = f.dir / "plain/out";
         return std::make_shared<int>();
       },
       true},
      {"output name taken by a folder",
       [](SourcesFixture &f, ConversionJob &) -> std::shared_ptr<void> {
         fs::create_directories(f.output / "fa_SBS.mkv");
         return std::make_shared<int>();
       },
       false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    SourcesFixture f;
    fs::path source = f.dir / "fa.mkv";
    test::makeFrameAlternateSource(source, 0.3);
    auto job = f.job(source, OutputTarget::sbs3D);
    auto guard = row.prepare(f, job);
    if (!guard) {
      std::printf("skipped \"%s\": this file system cannot make a folder immutable\n", row.name);
      continue;
    }
    if (row.fileSystemError)
      EXPECT_THROW(f.convert(job, frameAlternateInfo(source, false)), fs::filesystem_error);
    else
      EXPECT_THROW(f.convert(job, frameAlternateInfo(source, false)), OutputExistsError);
    EXPECT_TRUE(f.progress.empty()) << "fails before any step";
  }
}

TEST(FrameAlternatePipeline, VisionProGoesThroughTheConverterWithoutOverwritingTheSource) {
  for (bool keep : {true, false}) {
    SCOPED_TRACE(keep ? "side-by-side file kept" : "MV-HEVC file only");
    SourcesFixture f;
    // the side-by-side file stands for the spatial one: the finished file is read back
    f.tools.add("MVHEVCConverter", {{"steps",
                                     {{{"stdout", "Frame 1/2 (50.0%)\nFrame 2/2 (100.0%)\n"}},
                                      {{"copy_file", "{arg1}"}, {"to", "{arg2}"}}}}});
    fs::path source = f.output / "fa.mov";
    test::makeFrameAlternateSource(source, 0.5);
    std::string before = test::readFile(source);
    ConversionJob job = f.job(source, OutputTarget::visionPro);
    job.keepSideBySide = keep;
    auto result = f.convert(job, frameAlternateInfo(source, false));
    EXPECT_EQ(result.outputPath, (f.output / "fa_MV-HEVC.mov").string());
    EXPECT_EQ(test::readFile(source), before) << "the source is never overwritten";
    auto calls = f.tools.calls("MVHEVCConverter");
    ASSERT_EQ(calls.size(), 1u);
    // A kept file is written under a temporary name beside the final one,
    // one that is not kept in the work folder.
    ASSERT_EQ(calls[0].args.size(), 3u);
    EXPECT_TRUE(calls[0].args[0].ends_with(keep ? "-fa_SBS.mov" : "/fa_SBS.mov")) << calls[0].args[0];
    EXPECT_EQ(fs::path(calls[0].args[0]).parent_path() == f.output, keep) << calls[0].args[0];
    EXPECT_TRUE(calls[0].args[1].ends_with("-fa_MV-HEVC.mov")) << calls[0].args[1];
    EXPECT_EQ(fs::path(calls[0].args[1]).parent_path(), f.output);
    EXPECT_EQ(fs::exists(f.output / "fa_SBS.mov"), keep);
    EXPECT_EQ(result.sbsIntermediatePath.has_value(), keep);
    bool sawConverterProgress = false;
    for (const auto &[stage, fraction] : f.progress)
      sawConverterProgress |= stage == ConversionStage::convertingMVHEVC && fraction > 0.45 && fraction < 1.0;
    EXPECT_TRUE(sawConverterProgress);
  }
}

} // namespace
} // namespace kestrova::pipeline
