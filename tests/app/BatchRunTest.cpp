#include "ModelTestSupport.h"

#include "core/Errors.h"

#include <gtest/gtest.h>

namespace kestrova::test {
namespace {

namespace fs = std::filesystem;
using app::ConverterModel;

struct RunFixture : ModelRunFixture {

  fs::path sbsSource(const std::string &name, bool has3D = true) {
    fs::path file = source(name);
    std::lock_guard lock(*analysesMutex);
    (*analyses)[file] = sideBySideInfo(file, has3D);
    return file;
  }
};

TEST(BatchRun, SingleFileIsCopiedByTheRealEngine) {
  RunFixture f;
  fs::path movie = f.sbsSource("movie.mkv");
  f.build();
  f.select(movie);
  f.runToEnd();
  EXPECT_EQ(f.model->currentStage(), ConversionStage::complete);
  EXPECT_TRUE(fs::exists(f.out / "movie_SBS.mkv"));
  EXPECT_EQ(f.model->lastOutputURL(), f.out / "movie_SBS.mkv");
  ASSERT_EQ(f.notifier->posted.size(), 1u);
  EXPECT_NE(f.notifier->posted[0].body.find("movie_SBS.mkv"), std::string::npos);
  EXPECT_TRUE(f.model->conversionStartTime() && f.model->conversionEndTime());
  f.model->revealInFinder();
  EXPECT_EQ(f.revealer->revealed, (std::vector<std::vector<fs::path>>{{f.out / "movie_SBS.mkv"}}));
}

TEST(BatchRun, FailureInTheMiddleIsMarkedAndTheBatchGoesOn) {
  RunFixture f;
  fs::path a = f.sbsSource("a.mkv"), b = f.sbsSource("b.mkv"), c = f.sbsSource("c.mkv");
  fs::create_directories(f.out);
  writeFile(f.out / "b_SBS.mkv", "a user's file"); // the copy refuses to replace it
  // As if the file appeared after the start, when nobody was asked about it.
  f.environment.outputConflicts = [](const ConversionJob &, const std::optional<SourceFileInfo> &) {
    return std::vector<fs::path>{};
  };
  f.build();
  f.model->addFiles({a, b, c});
  f.runToEnd();
  EXPECT_EQ(f.model->currentStage(), ConversionStage::complete);
  EXPECT_EQ(f.model->batchOutputURLs(), (std::vector<fs::path>{f.out / "a_SBS.mkv", f.out / "c_SBS.mkv"}));
  ASSERT_EQ(f.model->fileOutcomes().at(b).kind, app::FileOutcome::Kind::failed);
  EXPECT_FALSE(f.model->fileOutcomes().at(b).reason.empty());
  EXPECT_EQ(f.notifier->posted.back().body, "Batch complete: 2 files converted, 1 failed");
  EXPECT_EQ(readFile(f.out / "b_SBS.mkv"), "a user's file");
}

TEST(BatchRun, OutputFolderThatCannotBeCreatedFailsTheRun) {
  RunFixture f;
  fs::path movie = f.sbsSource("movie.mkv");
  writeFile(f.dir / "plain", "not a folder");
  f.build();
  f.model->setOutputDirectory(f.dir / "plain/out");
  f.select(movie);
  f.runToEnd();
  EXPECT_EQ(f.model->currentStage(), ConversionStage::failed);
  ASSERT_TRUE(f.model->errorMessage());
  ASSERT_EQ(f.notifier->posted.size(), 1u);
  EXPECT_NE(f.notifier->posted[0].body.find(*f.model->errorMessage()), std::string::npos);
  EXPECT_FALSE(f.model->conversionEndTime());
}

// A conversion that reports progress, then blocks until the engine is cancelled.
app::ConversionRunner blockingRunner(std::shared_ptr<pipeline::PipelineEngine> engine) {
  app::ConversionRunner runner;
  runner.convert = [engine](const ConversionJob &, const std::optional<SourceFileInfo> &,
                            pipeline::ProgressHandler progress, LogFn) -> ConversionResult {
    progress(ConversionStage::decoding, 0.1);
    std::mutex mutex;
    std::condition_variable_any never;
    std::unique_lock lock(mutex);
    never.wait(lock, engine->stopToken(), [] { return false; });
    throw ConversionError::cancelled();
  };
  return runner;
}

TEST(BatchRun, QuittingOrDestroyingTheModelStopsARunningConversion) {
  for (bool quit : {false, true}) {
    SCOPED_TRACE(quit ? "application quits" : "model destroyed");
    RunFixture f;
    fs::path a = f.sbsSource("a.mkv");
    f.environment.runner = blockingRunner(f.environment.engine);
    f.build();
    f.select(a);
    f.model->startConversion();
    ASSERT_TRUE(f.executor->drainUntil([&] { return f.model->currentStage() == ConversionStage::decoding; }));
    if (quit) {
      f.model->applicationWillTerminate();
      ASSERT_TRUE(f.executor->drainUntil([&] { return ModelFixture::logged(*f.model, "] Conversion cancelled"); }));
      EXPECT_TRUE(f.environment.engine->isCancelled());
    }
    f.model.reset(); // joins the worker; would hang if the engine were not cancelled
    f.executor->drainAvailable();
  }
}

// Fresh conversions that leave an SBS intermediate, and a record of reuse.
struct CacheFixture : RunFixture {
  std::vector<ConversionJob> fresh;
  std::vector<ConversionJob> reused;
  CacheFixture() {
    environment.runner.convert = [this](const ConversionJob &job, const std::optional<SourceFileInfo> &,
                                        pipeline::ProgressHandler, LogFn) {
      fresh.push_back(job);
      fs::create_directories(job.outputDirectory);
      fs::path sbs = job.outputDirectory / (job.sourceURL.stem().string() + "_SBS.mkv");
      writeFile(sbs, "sbs");
      return ConversionResult{sbs.string(), {}, sbs.string()};
    };
    environment.runner.convertCachedSbs = [this](const ConversionJob &job, const std::string &baseName,
                                                 const std::optional<SourceFileInfo> &, pipeline::ProgressHandler,
                                                 LogFn) {
      reused.push_back(job);
      return ConversionResult{(job.outputDirectory / (baseName + "_MV-HEVC.mov")).string(), {}, std::nullopt};
    };
  }
};

TEST(SbsCache, ReuseDependsOnTheEncodingSettings) {
  struct Case {
    const char *name;
    std::int64_t firstLimit;
    std::function<void(ConverterModel &)> between;
    bool reuse;
  };
  const Case cases[] = {
      {"same settings", 120, [](ConverterModel &) {}, true},
      {"codec changed", 120, [](ConverterModel &m) { m.setOutputCodec(OutputCodec::h265); }, false},
      {"2 min to 5 min", 120, [](ConverterModel &m) { m.setDebugLimitSeconds(300); }, false},
      {"full movie twice", 0, [](ConverterModel &) {}, true},
      {"cached file deleted", 120, [](ConverterModel &m) { fs::remove(m.cachedSBS()->sbsURL); }, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    CacheFixture f;
    fs::path movie = f.sbsSource("movie.m2ts");
    f.build();
    f.model->setDebugLimitSeconds(c.firstLimit);
    f.select(movie);
    f.runToEnd();
    ASSERT_TRUE(f.model->cachedSBS());
    EXPECT_EQ(f.fresh.back().durationLimit, c.firstLimit ? std::optional<std::int64_t>(c.firstLimit) : std::nullopt);
    c.between(*f.model);
    f.model->setOutputTarget(OutputTarget::visionPro);
    f.model->setKeepSBSIntermediate(true);
    f.runToEnd();
    EXPECT_EQ(f.reused.size(), c.reuse ? 1u : 0u);
    if (c.reuse) {
      EXPECT_EQ(f.reused[0].sourceURL, f.out / "movie_SBS.mkv");
    }
  }
}

} // namespace
} // namespace kestrova::test
