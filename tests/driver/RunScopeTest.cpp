#include "pipeline/RunScope.h"

#include "core/Errors.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;

// Every kind of run ends through the scope: what the road did decides what
// the output folder holds afterwards and what the caller is told.
TEST(RunScope, CommitsOnlyWhatAFinishedUncancelledRoadWrote) {
  enum class Road { writes, writesThenCancelled, writesNothing, diskFull, sourceGone };
  struct Row {
    const char *name;
    Road road;
    const char *error; // empty: committed; else a part of what() or "cancelled"
  };
  const Row rows[] = {
      {"finished", Road::writes, ""},
      {"cancelled after the road ended", Road::writesThenCancelled, "cancelled"},
      {"a tool wrote nothing", Road::writesNothing, "film_SBS.mkv"},
      {"a tool's words for a full disk", Road::diskFull, "not enough space on"},
      {"source removed meanwhile", Road::sourceGone, "was deleted or moved"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    test::TempDir dir;
    PipelineEngine engine(tools::ToolLocator(tools::BundlePaths::forPrefix((dir / "prefix").string()),
                                             tools::SystemPrograms{"/bin/bash", (dir / "no-which").string()},
                                             {(dir / "empty/").string()}));
    ConversionJob job;
    job.sourceURL = dir / "film.m2ts";
    job.outputDirectory = dir / "out";
    test::writeFile(job.sourceURL, "source");
    PipelineRun run(engine, job);
    run.outputs.sideBySide = job.outputDirectory / "film_SBS.mkv";
    engine.beginRun();
    std::string error;
    try {
      RunScope scope(run, false);
      scope.runAndCommit([&] {
        const fs::path written = run.writePath(*run.outputs.sideBySide);
        if (row.road != Road::writesNothing)
          test::writeFile(written, "pictures");
        if (row.road == Road::writesThenCancelled)
          engine.cancel();
        if (row.road == Road::diskFull)
          throw ConversionError::encodingFailed("ffmpeg: av_interleaved_write_frame(): No space left on device");
        if (row.road == Road::sourceGone) {
          fs::remove(job.sourceURL);
          throw ConversionError::demuxFailed("tsMuxeR exited with code 1");
        }
        run.succeeded = true;
        return ConversionResult{run.outputs.sideBySide->string(), run.workDirectory, std::nullopt};
      });
    } catch (const ConversionError &e) {
      error = e.kind() == ConversionError::Kind::cancelled ? "cancelled" : e.what();
    } catch (const std::exception &e) {
      error = e.what();
    }
    engine.waitForCancellation();
    EXPECT_NE(error.find(row.error), std::string::npos) << error;
    std::vector<std::string> left;
    for (const auto &entry : fs::directory_iterator(job.outputDirectory))
      left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, *row.error ? std::vector<std::string>{} : std::vector<std::string>{"film_SBS.mkv"})
        << "nothing half-done under the output's name, no work folder, no temporary file";
  }
}

} // namespace
} // namespace kestrova::pipeline
