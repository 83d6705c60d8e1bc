#include "MvcTestSupport.h"
#include "core/Errors.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

constexpr int kWidth = 64, kHeight = 48, kFrames = 12;

/// A conversion through the engine with tsMuxeR, ldecod and MVHEVCConverter
/// doubles and the real ffmpeg.
struct ConversionFixture : test::MvcEngineFixture {
  fs::path output = dir / "out";
  ConversionJob job;
  SourceFileInfo info;

  explicit ConversionFixture(const std::string &sourceName, Stereo3DMode mode = Stereo3DMode::mvcSeparateTracks()) {
    addRealFfmpeg();
    addFakeLdecod();
    fs::create_directories(output);
    job.sourceURL = dir / sourceName;
    job.outputDirectory = output;
    job.qualityPreset = QualityPreset::low;
    test::makeSourceWithAudio(job.sourceURL);
    info.stereoMode = mode;
    info.videoWidth = kWidth;
    info.videoHeight = kHeight;
    info.frameRateNum = 24;
    info.frameRateDen = 1;
    info.duration = 0.5;
    tools.add("ffprobe", {{"steps",
                           {{{"stdout", json{{"streams",
                                              {{{"index", 0}, {"codec_type", "video"}, {"codec_name", "h264"}},
                                               {{"index", 1}, {"codec_type", "video"}, {"codec_name", "h264"}}}}}
                                            .dump()}}}}});
    demuxWrites({".track_4113.264", ".track_4114.mvc"});
    tools.add("MVHEVCConverter", {{"steps", {{{"stdout", "Frame 6/12 (50.0%)\n"}}, {{"write_file", "{arg2}"}}}}});
  }

  /// tsMuxeR's double: the single-track listing on stdout, and the view
  /// streams written into the directory it is given.
  void demuxWrites(const std::vector<std::string> &suffixes) {
    json steps = json::array();
    steps.push_back({{"stdout", "Track ID:    1\nStream type: MVC\nsubTrack: 1\n\n"
                                "Track ID:    1\nStream type: H.264\nsubTrack: 2\n"}});
    for (const auto &suffix : suffixes) {
      bool mvc = suffix.ends_with(".mvc") || suffix.find("4114") != std::string::npos;
      steps.push_back({{"write_file", "{arg2}/" + job.sourceURL.stem().string() + suffix},
                       {"content", mvc ? test::mvcViewStream(kFrames, kWidth, kHeight)
                                       : test::baseViewStream(kFrames, kWidth, kHeight)}});
    }
    tools.add("tsmuxer", {{"steps", steps}});
  }

  ConversionResult convert() { return engine->convert(job, info, progressRecorder(), {}); }

  std::vector<fs::path> workDirectories() const {
    std::vector<fs::path> found;
    for (const auto &entry : fs::directory_iterator(output))
      if (entry.path().filename().string().starts_with("Kestrova_"))
        found.push_back(entry.path());
    return found;
  }

  std::vector<std::string> outputNames() const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(output))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST(MvcPipeline, ConvertsToFullSideBySide) {
  struct Row {
    const char *source;
    Stereo3DMode mode;
    OutputTarget target;
    std::vector<std::string> outputs;
    bool swapped;
    std::optional<std::int64_t> durationLimit;
    double sourceDuration;
    const char *encodeLine; // what the encoder is told to expect
  };
  const Row rows[] = {
      {"disc.m2ts",
       Stereo3DMode::mvcSeparateTracks(),
       OutputTarget::sbs3D,
       {"disc_SBS.mkv"},
       false,
       std::nullopt,
       0.5,
       "duration: 0.5s"},
      {"rip.mkv",
       Stereo3DMode::mvcSingleTrack(true),
       OutputTarget::sbs3D,
       {"rip_SBS.mkv"},
       true,
       1,
       0.5,
       "duration: 1.0s"},
      {"rip.mkv",
       Stereo3DMode::mvcSingleTrack(false),
       OutputTarget::sbs3D,
       {"rip_SBS.mkv"},
       false,
       std::nullopt,
       0.0,
       "duration: 7200.0s"},
      {"disc.m2ts",
       Stereo3DMode::mvcSeparateTracks(),
       OutputTarget::visionPro,
       {"disc.mov", "disc_SBS.mov"},
       false,
       std::nullopt,
       0.5,
       "duration: 0.5s"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string(row.source) + " " + row.mode.text() + " " + std::string(rawValue(row.target)));
    ConversionFixture f(row.source, row.mode);
    f.job.outputTarget = row.target;
    f.job.durationLimit = row.durationLimit;
    f.info.duration = row.sourceDuration;
    auto result = f.convert();
    EXPECT_TRUE(f.logged(std::string("Running ffmpeg to create Full SBS 3D (H.264), ") + row.encodeLine));
    EXPECT_EQ(f.outputNames(), row.outputs) << "the work directory is gone and nothing else is left";
    fs::path sbs = f.output / row.outputs.back();
    EXPECT_EQ(result.sbsIntermediatePath, sbs.string());
    EXPECT_EQ(result.outputPath, (f.output / row.outputs.front()).string());

    auto [left, right] = test::halfLumaMeans(sbs);
    double view0 = row.swapped ? right : left, view1 = row.swapped ? left : right;
    EXPECT_LT(view0, 70) << "view 0 is dark";
    EXPECT_GT(view1, 170) << "view 1 is bright";
    EXPECT_EQ(test::streamSummary(sbs),
              row.target == OutputTarget::sbs3D ? "video 128x48 left_right, audio" : "video 128x48, audio");

    auto pairs = f.progressPairs();
    std::vector<std::pair<ConversionStage, double>> milestones;
    for (const auto &pair : pairs)
      if (pair.first != ConversionStage::decoding && !(pair.first == ConversionStage::encoding && pair.second > 0.7) &&
          !(pair.first == ConversionStage::convertingMVHEVC && pair.second > 0.85))
        milestones.push_back(pair);
    // ffmpeg's first status line may report the encode's start point again.
    milestones.erase(std::unique(milestones.begin(), milestones.end()), milestones.end());
    std::vector<std::pair<ConversionStage, double>> expected{
        {ConversionStage::demuxing, 0.05}, {ConversionStage::interleaving, 0.3}, {ConversionStage::encoding, 0.7}};
    if (row.target == OutputTarget::visionPro)
      expected.emplace_back(ConversionStage::convertingMVHEVC, 0.85);
    expected.emplace_back(ConversionStage::complete, 1.0);
    EXPECT_EQ(milestones, expected);
    EXPECT_TRUE(std::is_sorted(pairs.begin(), pairs.end(), [](const auto &a, const auto &b) {
      return a.second < b.second;
    })) << "fractions never go back";
    EXPECT_EQ(std::count_if(pairs.begin(), pairs.end(),
                            [](const auto &pair) { return pair.first == ConversionStage::decoding; }),
              2 * kFrames + 1)
        << "one report per picture and one for ldecod's totals line";
  }
}

TEST(MvcPipeline, FailuresKeepTheWorkDirectory) {
  struct Row {
    const char *name;
    std::vector<std::string> demuxed;
    json ldecod; // null: the JM decoder's double
    ConversionError error;
    const char *kept; // a file the kept work directory still holds
  };
  const Row rows[] = {
      {"one .264 only",
       {".track_4113.264"},
       nullptr,
       ConversionError::demuxFailed("MVC view file not found after demuxing"),
       "disc.track_4113.264"},
      {"ldecod exits 1",
       {".track_4113.264", ".track_4114.mvc"},
       json{{"steps", {{{"exit", 1}}}}},
       ConversionError::decodingFailed("ldecod exited with code 1"),
       "disc_interleaved.264"},
      {"ldecod writes no views",
       {".track_4113.264", ".track_4114.mvc"},
       json{{"steps", json::array()}},
       ConversionError::decodingFailed("YUV files not generated by ldecod"),
       "disc_interleaved.264"},
  };
  for (const auto &row : rows) {
    ConversionFixture f("disc.m2ts");
    f.demuxWrites(row.demuxed);
    if (!row.ldecod.is_null()) {
      fs::remove(f.tools / "ldecod"); // replaces the JM decoder's double with the scriptable one
      f.tools.add("ldecod", row.ldecod);
    }
    try {
      f.convert();
      ADD_FAILURE() << row.name;
    } catch (const ConversionError &error) {
      EXPECT_EQ(error, row.error) << row.name;
    }
    auto work = f.workDirectories();
    ASSERT_EQ(work.size(), 1u) << row.name;
    EXPECT_TRUE(fs::exists(work[0] / row.kept)) << row.name;
  }
}

TEST(MvcPipeline, CancelEndsTheRunAndItsTool) {
  struct Row {
    const char *name;
    bool slowDecoder;
    ConversionStage cancelAt;
  };
  const Row rows[] = {{"during decode", true, ConversionStage::decoding},
                      {"during encode", false, ConversionStage::encoding}};
  for (const auto &row : rows) {
    ConversionFixture f("disc.m2ts");
    if (row.slowDecoder) {
      fs::remove(f.tools / "ldecod");
      f.tools.add("ldecod", {{"steps", {{{"stdout", "00000(IDR)  0 0 28\n"}}, {{"sleep_ms", 60000}}, {{"exit", 0}}}}});
    }
    std::atomic<bool> cancelled{false};
    auto record = f.progressRecorder();
    auto result = [&] {
      try {
        f.engine->convert(f.job, f.info,
                          [&](ConversionStage stage, double fraction) {
                            record(stage, fraction);
                            if (stage == row.cancelAt && !cancelled.exchange(true))
                              f.engine->cancel();
                          },
                          {});
        return std::optional<ConversionError>();
      } catch (const ConversionError &error) {
        return std::optional<ConversionError>(error);
      }
    }();
    f.engine->waitForCancellation();
    EXPECT_EQ(result, ConversionError::cancelled()) << row.name;
    EXPECT_TRUE(f.workDirectories().empty()) << row.name;
    for (const auto &call : f.tools.calls("ldecod"))
      EXPECT_FALSE(test::processAlive(call.pid)) << row.name;
    EXPECT_FALSE(f.engine->currentProcess() && f.engine->currentProcess()->isRunning()) << row.name;
  }
}

} // namespace
} // namespace kestrova::pipeline
