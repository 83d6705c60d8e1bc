#include "core/Errors.h"
#include "pipeline/PipelineEngine.h"
#include "support/TestSupport.h"

#include <functional>
#include <gtest/gtest.h>
#include <limits>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

// An engine whose tool search only sees an empty folder of the test's, so
// no tool of the machine is ever found and every pipeline fails early.
struct IsolatedEngine {
  TempDir dir;
  PipelineEngine engine;

  /// An existing (empty) source file in the test's folder.
  fs::path sourceFile(const std::string &name) {
    test::writeFile(dir / name, "");
    fs::create_directories(dir / "out");
    return dir / name;
  }

  IsolatedEngine()
      : engine(tools::ToolLocator(tools::BundlePaths::forPrefix((dir / "prefix").string()),
                                  tools::SystemPrograms{"/bin/bash", (dir / "no-which").string()},
                                  {(dir / "empty/").string()})) {}
};

std::vector<std::string> runCapturingDriverLines(PipelineEngine &engine, const ConversionJob &job,
                                                 const std::optional<SourceFileInfo> &info) {
  std::vector<std::string> lines;
  try {
    engine.convert(
        job, info, [](ConversionStage, double) {}, [&](const std::string &line) { lines.push_back(line); });
  } catch (const std::exception &) {
    // Every pipeline fails here (no tools); only the driver's lines matter.
  }
  return lines;
}

// The layout without a readable report comes from the container; prepared
// source information skips the analysis; a frame-alternate source's eye
// order is its own, not the MVC decoder's view order.
TEST(Driver, SourceLineFromTheReportOrTheContainer) {
  struct Row {
    const char *file;
    std::optional<Stereo3DMode> prepared; // none: the analysis reads nothing
    const char *source;
  };
  const Row rows[] = {
      {"movie.MKV", std::nullopt,
       "1920x1080, 24000/1001 fps, stereo: mvcSingleTrack(rightFirst: false), rightFirst: false"},
      {"movie", std::nullopt, "1920x1080, 24000/1001 fps, stereo: mvcSeparateTracks, rightFirst: false"},
      {"clip.mkv", Stereo3DMode::mvcSingleTrack(true),
       "1280x720, 25/1 fps, stereo: mvcSingleTrack(rightFirst: true), rightFirst: true"},
      {"fa.mkv", Stereo3DMode::frameAlternate(true),
       "1280x720, 25/1 fps, stereo: frameAlternate(rightFirst: true), rightFirst: false"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.file);
    IsolatedEngine fixture;
    bool analysed = false;
    fixture.engine.setSourceAnalyzer([&](const fs::path &) -> std::optional<SourceFileInfo> {
      analysed = true;
      return std::nullopt;
    });
    std::optional<SourceFileInfo> info;
    if (row.prepared) {
      info.emplace();
      info->videoWidth = 1280;
      info->videoHeight = 720;
      info->frameRateNum = 25;
      info->frameRateDen = 1;
      info->stereoMode = *row.prepared;
    }
    ConversionJob job;
    job.sourceURL = fixture.sourceFile(row.file);
    job.outputDirectory = fixture.dir / "out";
    auto lines = runCapturingDriverLines(fixture.engine, job, info);
    EXPECT_EQ(analysed, !row.prepared);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), std::string("Source: ") + row.source);
  }
}

// Before any work: a missing ffprobe is named with its install advice, a
// source without anything to convert is named for what it lacks, and an
// existing output stops the run unless replacing is allowed.
TEST(Driver, StopsBeforeAnyWork) {
  struct Row {
    const char *name;
    std::function<SourceFileInfo(const fs::path &)> analyzer;
    bool outputExists;
    std::string message;
  };
  auto flat = [](const fs::path &) {
    SourceFileInfo info;
    info.resolution = "320x240";
    return info;
  };
  auto mvc = [](const fs::path &) {
    SourceFileInfo info;
    info.stereoMode = Stereo3DMode::mvcSeparateTracks();
    return info;
  };
  const Row rows[] = {
      {"no ffprobe", [](const fs::path &) -> SourceFileInfo { throw AnalysisError("ffprobe not found"); }, false,
       "ffprobe not found: install Debian's ffmpeg package"},
      {"2D disc stream", flat, false, "no MVC (3D) view found in"},
      {"existing output", mvc, true, "\"movie_SBS.mkv\" already exists in"},
  };
  for (const auto &row : rows) {
    IsolatedEngine fixture;
    fixture.engine.setSourceAnalyzer(row.analyzer);
    ConversionJob job;
    job.sourceURL = fixture.sourceFile("movie.m2ts");
    job.outputDirectory = fixture.dir / "out";
    job.outputTarget = OutputTarget::sbs3D;
    if (row.outputExists)
      test::writeFile(job.outputDirectory / "movie_SBS.mkv", "kept");
    try {
      fixture.engine.convert(
          job, std::nullopt, [](ConversionStage, double) {}, nullptr);
      ADD_FAILURE() << row.name;
    } catch (const std::exception &error) {
      EXPECT_NE(std::string(error.what()).find(row.message), std::string::npos) << row.name << ": " << error.what();
    }
    std::vector<std::string> left;
    for (const auto &entry : fs::directory_iterator(job.outputDirectory, fs::directory_options::none))
      left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, row.outputExists ? std::vector<std::string>{"movie_SBS.mkv"} : std::vector<std::string>{})
        << row.name;
  }
}

TEST(Driver, NeitherAFailedRunWithNothingToKeepNorACancelledOneLeavesAWorkDirectory) {
  for (bool cancel : {false, true}) {
    IsolatedEngine fixture;
    fixture.engine.verboseLogging = true;
    // The work directory's creation line comes after the run has cleared the
    // cancelled flag: cancelling there stands in for the user pressing Cancel
    // while the run goes on.
    fixture.engine.onLog = [&](const std::string &line) {
      if (cancel && line.starts_with("Created temp directory: "))
        fixture.engine.cancel();
    };
    ConversionJob job;
    job.sourceURL = fixture.sourceFile("movie.m2ts");
    job.outputDirectory = fixture.dir / "out";
    SourceFileInfo info;
    // A road that needs no tool to be planned; it fails for want of ffmpeg.
    info.stereoMode = Stereo3DMode::frameAlternate(false);
    EXPECT_ANY_THROW(fixture.engine.convert(
        job, info, [](ConversionStage, double) {}, nullptr));
    EXPECT_TRUE(fs::is_empty(job.outputDirectory));
  }
}

// A cancel holds for a conversion that has not begun yet (a Ctrl-C while the
// program starts) until the caller begins a new batch.
TEST(Driver, ACancelHoldsUntilTheNextBatchBegins) {
  for (bool newBatch : {false, true}) {
    IsolatedEngine fixture;
    fixture.engine.cancel();
    if (newBatch)
      fixture.engine.beginRun();
    ConversionJob job;
    job.sourceURL = fixture.sourceFile("movie.m2ts");
    job.outputDirectory = fixture.dir / "out";
    SourceFileInfo info;
    info.stereoMode = Stereo3DMode::frameAlternate(false); // fails for want of ffmpeg
    bool cancelled = false;
    try {
      fixture.engine.convert(
          job, info, [](ConversionStage, double) {}, nullptr);
    } catch (const ConversionError &error) {
      cancelled = error.kind() == ConversionError::Kind::cancelled;
    }
    EXPECT_EQ(cancelled, !newBatch) << newBatch;
    EXPECT_EQ(fixture.engine.isCancelled(), !newBatch);
  }
}

TEST(Driver, ConsoleProgressPrintsEachNewStepOfFivePercentAndEachStage) {
  struct Row {
    ConversionStage stage;
    double fraction;
    std::optional<std::string> line;
  };
  const Row rows[] = {
      {ConversionStage::demuxing, 0.0, "[Reading the source] 0%"},
      {ConversionStage::demuxing, 0.03, std::nullopt},
      {ConversionStage::convertingMVHEVC, 0.03, "[Encoding for Vision Pro] 3%"},
      {ConversionStage::convertingMVHEVC, 0.49, "[Encoding for Vision Pro] 49%"},
      {ConversionStage::convertingMVHEVC, 0.515, "[Encoding for Vision Pro] 51%"},
      {ConversionStage::convertingMVHEVC, 0.54, std::nullopt},
      {ConversionStage::convertingMVHEVC, std::numeric_limits<double>::quiet_NaN(), std::nullopt},
      {ConversionStage::complete, 1.0, "[Complete!] 100%"},
  };
  ConsoleProgress console;
  for (const auto &row : rows)
    EXPECT_EQ(console.line(row.stage, row.fraction), row.line) << row.fraction;
}

} // namespace
} // namespace kestrova::pipeline
