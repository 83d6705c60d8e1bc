#include "core/Errors.h"
#include "demux/Demux.h"
#include "fakes/FakeToolFolder.h"
#include "pipeline/PipelineEngine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
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
};

std::string recording(const std::string &name) {
  return test::readFile(test::sourceDir() / "tests/fakes/recordings" / name);
}

// tsMuxeR's double, copied from its recorded runs on `clip`: the information
// report when given the source alone; given the meta file and the output
// folder, the files it demuxed (renamed after `stem`) and what it printed.
json recordedTsMuxeR(const std::string &clip, const std::string &stem) {
  json steps = json::array({{{"when_args", 1}, {"stdout", recording("tsmuxer-info-" + clip + ".txt")}}});
  std::istringstream files(recording("tsmuxer-demux-" + clip + ".files"));
  const std::string clipStem = clip.substr(0, clip.rfind('.'));
  for (std::string file; std::getline(files, file);)
    steps.push_back(
        {{"when_args", 2}, {"write_file", "{arg2}/" + stem + file.substr(clipStem.size())}, {"content", "stream"}});
  steps.push_back({{"when_args", 2}, {"stdout", recording("tsmuxer-demux-" + clip + ".txt")}});
  return {{"steps", steps}};
}

TEST(DemuxRun, TracksAreNamedAsTsMuxeRReportsThem) {
  struct Row {
    const char *clip;
    bool singleTrack;
    std::string trackLines;
    std::vector<std::string> files;
  };
  const Row rows[] = {
      {"clip24.m2ts",
       false,
       "AVC, \"SOURCE\", track=4113\nV_MPEG4/ISO/MVC, \"SOURCE\", track=4114\n",
       {"My \"3D\" Movie.track_4113.264", "My \"3D\" Movie.track_4114.mvc"}},
      {"clip24_lr.mkv",
       true,
       "AVC, \"SOURCE\", track=1, subTrack=2\nV_MPEG4/ISO/MVC, \"SOURCE\", track=1, subTrack=1\n",
       {"My \"3D\" Movie.track_1.264", "My \"3D\" Movie.track_1_2.mvc"}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.clip);
    DemuxFixture f;
    f.tools.add("tsmuxer", recordedTsMuxeR(row.clip, f.source.stem().string()));
    demux(*f.engine, f.source, f.work, row.singleTrack, 90);
    std::string lines = row.trackLines;
    for (auto at = lines.find("SOURCE"); at != std::string::npos; at = lines.find("SOURCE", at))
      lines.replace(at, 6, f.source.string());
    const std::string meta = test::readFile(f.work / "demux.meta");
    EXPECT_EQ(meta.substr(meta.find('\n') + 1), "V_MPEG4/ISO/" + lines);
    EXPECT_NE(meta.find("--cut-end=90s\n"), std::string::npos) << meta;
    for (const auto &file : row.files)
      EXPECT_TRUE(fs::exists(f.work / file)) << file;
    EXPECT_EQ(f.lines[f.lines.size() - 2], recording(std::string("tsmuxer-demux-") + row.clip + ".txt"));
  }
}

// A missing tsMuxeR, and one that fails, are named.
TEST(DemuxRun, Failures) {
  for (const bool installed : {false, true}) {
    DemuxFixture f;
    if (installed)
      f.tools.add("tsmuxer", {{"steps", {{{"stderr", "Can't open file"}}, {{"exit", 254}}}}});
    try {
      demux(*f.engine, f.source, f.work, !installed, std::nullopt);
      ADD_FAILURE() << "demuxed";
    } catch (const ConversionError &error) {
      EXPECT_NE(std::string(error.what()).find(installed ? "tsMuxeR" : "tsmuxer"), std::string::npos) << error.what();
    }
  }
}

TEST(DemuxRun, CancelEndsARunningDemux) {
  DemuxFixture f;
  f.tools.add("tsmuxer", {{"steps", {{{"when_args", 2}, {"stdout", "demuxing\n"}, {"sleep_ms", 60000}}}}});
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
