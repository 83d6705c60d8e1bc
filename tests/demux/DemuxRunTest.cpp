#include "core/Errors.h"
#include "demux/Demux.h"
#include "fakes/FakeToolFolder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace kestrova::demux {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::FakeToolFolder;

struct DemuxFixture {
  test::TempDir dir;
  FakeToolFolder tools{dir / "tools"};
  fs::path work = dir / "out/Kestrova_0000CAFE";
  fs::path source = dir / "My \"3D\" Movie.m2ts";
  std::unique_ptr<pipeline::PipelineEngine> engine;
  std::mutex mutex;
  std::vector<std::string> lines;

  DemuxFixture() {
    fs::create_directories(work);
    tools::SystemPrograms programs;
    programs.which = (dir / "no-which").string();
    engine = std::make_unique<pipeline::PipelineEngine>(
        tools::ToolLocator(tools::BundlePaths{"", "/nonexistent", ""}, programs, {(dir / "tools/").string()}));
    engine->verboseLogging = true;
    engine->onLog = [this](const std::string &line) {
      std::lock_guard lock(mutex);
      lines.push_back(line);
    };
  }
  void ffprobeLists(const json &streams) {
    tools.add("ffprobe", {{"steps", {{{"stdout", json{{"streams", streams}}.dump()}}}}});
  }
};

TEST(DemuxRun, SeparateTracksWriteTheMetaAndRunTsMuxeR) {
  DemuxFixture f;
  f.ffprobeLists({{{"index", 0}, {"codec_type", "video"}, {"codec_name", "h264"}, {"width", 1920}},
                  {{"index", 1}, {"codec_type", "video"}, {"codec_name", "h264"}, {"width", 0}}});
  f.tools.add("tsmuxer", {{"steps",
                           {{{"write_file", "{arg2}/My \"3D\" Movie.track_4113.264"}, {"content", "base"}},
                            {{"write_file", "{arg2}/My \"3D\" Movie.track_4114.mvc"}, {"content", "mvc"}},
                            {{"stdout", "Demux complete."}},
                            {{"stderr", "no warnings"}}}}});
  demux(*f.engine, f.source, f.work, false, 90);
  std::string expectedMeta = "MUXOPT --no-pcr-on-video-pid --new-audio-pes --demux --vbr --vbv-len=500 --cut-end=90s\n"
                             "V_MPEG4/ISO/AVC, \"" +
                             f.source.string() +
                             "\", track=0\n"
                             "V_MPEG4/ISO/MVC, \"" +
                             f.source.string() + "\", track=1\n";
  EXPECT_EQ(test::readFile(f.work / "demux.meta"), expectedMeta);
  auto calls = f.tools.calls("tsmuxer");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args, (std::vector<std::string>{(f.work / "demux.meta").string(), f.work.string()}));
  EXPECT_TRUE(fs::exists(f.work / "My \"3D\" Movie.track_4114.mvc"));
  std::vector<std::string> expectedLines{"Running tsMuxeR demux...", "tsMuxeR meta:\n" + expectedMeta,
                                         "Running tsMuxeR with meta: " + (f.work / "demux.meta").string(),
                                         "Demux complete.", "no warnings"};
  EXPECT_EQ(f.lines, expectedLines);
}

TEST(DemuxRun, SingleTrackAsksTsMuxeRForSubTracksFirst) {
  DemuxFixture f;
  f.tools.add("tsmuxer",
              {{"steps",
                {{{"stdout", "tsMuxeR version 2.6.16\nTrack ID:    1\nStream type: MVC\nsubTrack: 1\n\n"
                             "Track ID:    1\nStream type: H.264\nsubTrack: 2\nDuration: 00:00:01.000\n"}}}}});
  f.engine->verboseLogging = false;
  demux(*f.engine, f.dir / "movie.mkv", f.work, true, std::nullopt);
  EXPECT_EQ(test::readFile(f.work / "demux.meta"),
            "MUXOPT --demux\nV_MPEG4/ISO/AVC, \"" + (f.dir / "movie.mkv").string() + "\", track=1, subTrack=2\n" +
                "V_MPEG4/ISO/MVC, \"" + (f.dir / "movie.mkv").string() + "\", track=1, subTrack=1\n");
  auto calls = f.tools.calls("tsmuxer");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].args, std::vector<std::string>{(f.dir / "movie.mkv").string()});
  EXPECT_TRUE(f.lines.empty()) << "everything here is verbose-only";
}

TEST(DemuxRun, Failures) {
  {
    DemuxFixture f;
    try {
      demux(*f.engine, f.source, f.work, true, std::nullopt);
      FAIL();
    } catch (const ConversionError &error) {
      EXPECT_NE(std::string(error.what()).find("tsmuxer not found: build it with scripts/build-tools"),
                std::string::npos)
          << error.what();
    }
  }
  {
    DemuxFixture f;
    f.tools.add("tsmuxer", {{"steps", {{{"stderr", "Can't open file"}}, {{"exit", 254}}}}});
    f.ffprobeLists(json::array());
    try {
      demux(*f.engine, f.source, f.work, false, std::nullopt);
      FAIL();
    } catch (const ConversionError &error) {
      EXPECT_EQ(error.debugText(), "demuxFailed(\"tsMuxeR exited with code 254\")");
      EXPECT_STREQ(error.what(), "Demux failed: tsMuxeR exited with code 254");
    }
  }
  {
    DemuxFixture f;
    f.tools.add("tsmuxer");
    f.tools.add("ffprobe", {{"steps", {{{"stdout", "not json"}}}}});
    EXPECT_THROW(demux(*f.engine, f.source, f.work, false, std::nullopt), nlohmann::json::parse_error);
    EXPECT_TRUE(f.tools.calls("tsmuxer").empty());
  }
}

TEST(DemuxRun, CancelEndsARunningDemux) {
  DemuxFixture f;
  f.ffprobeLists(json::array());
  f.tools.add("tsmuxer", {{"steps", {{{"stdout", "demuxing\n"}}, {{"sleep_ms", 60000}}}}});
  std::thread canceller([&] {
    // Cancel once the demux run is the current process and has started.
    while (!f.engine->currentProcess() || f.engine->currentProcess()->pid() == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    f.engine->cancel();
  });
  auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(demux(*f.engine, f.source, f.work, false, std::nullopt), ConversionError);
  canceller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  f.engine->waitForCancellation();
}

} // namespace
} // namespace kestrova::demux
