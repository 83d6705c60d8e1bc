// Batch runs and the SBS cache through the real engine: Blu-ray sources go
// through the tsMuxeR, JM decoder and converter doubles and the real ffmpeg,
// so what the model hands the engine is what a user's run would hand it.
#include "BlurayMedia.h"
#include "ModelTestSupport.h"
#include "fakes/FakeToolFolder.h"
#include "support/MediaFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kestrova::test {
namespace {

namespace fs = std::filesystem;
using app::ConverterModel;
using nlohmann::json;

constexpr int kWidth = 64, kHeight = 48, kFrames = 12;

struct EngineRunFixture : ModelRunFixture {
  FakeToolFolder tools{dir / "tools"};

  EngineRunFixture() {
    tools.addReal("ffmpeg", "/usr/bin/ffmpeg");
    tools.addReal("ldecod", KESTROVA_FAKE_LDECOD_PATH);
    // The track listing of a disc stream: base view and MVC view.
    tools.add("ffprobe", twoViewProbeScript(kFrames));
    demuxWrites(json::array());
    tools.add("MVHEVCConverter", {{"steps",
                                   {{{"when_arg1", "-"}, {"copy_stdin_to", "/dev/null"}},
                                    {{"stdout", "Frame 6/12 (50.0%)\n"}},
                                    {{"write_file", "{arg2}"}, {"content", "spatial"}}}}});
  }

  /// tsMuxeR's double writes both views into the folder it is given, after
  /// `before`; its listing run (one argument) prints nothing, so the demux
  /// falls back to the disc's usual track numbers.
  void demuxWrites(json before) {
    json steps = std::move(before);
    steps.push_back({{"write_file", "{arg2}/v.track_4113.264"}, {"content", baseViewText(kFrames, kWidth, kHeight)}});
    steps.push_back({{"write_file", "{arg2}/v.track_4114.mvc"}, {"content", mvcViewText(kFrames, kWidth, kHeight)}});
    for (auto &step : steps)
      step["when_args"] = 2;
    tools.add("tsmuxer", {{"steps", steps}});
  }

  /// A real media file that the analysis double reports as a Blu-ray 3D stream.
  fs::path discSource(const std::string &name, bool has3D = true) {
    fs::path file = dir / "sources" / name;
    makeSourceWithAudio(file);
    SourceFileInfo info;
    info.url = file;
    info.fileName = name;
    info.duration = 0.5;
    info.videoWidth = kWidth;
    info.videoHeight = kHeight;
    info.frameRateNum = 24;
    info.frameRateDen = 1;
    info.hasMVCStream = has3D;
    info.stereoMode = has3D ? Stereo3DMode::mvcSeparateTracks() : Stereo3DMode::none();
    std::lock_guard lock(*analysesMutex);
    (*analyses)[file] = info;
    return file;
  }

  /// Demux runs, not counting tsMuxeR's listing runs.
  std::size_t demuxCount() const {
    auto calls = tools.calls("tsmuxer");
    return std::count_if(calls.begin(), calls.end(), [](const auto &call) { return call.args.size() == 2; });
  }
  bool logged(const std::string &line) const { return ModelFixture::logged(*model, line); }
  std::vector<std::string> outputNames() const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(out))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST(EngineRun, BlurayBatchSkipsTheFileWithout3D) {
  EngineRunFixture f;
  fs::path a = f.discSource("a.m2ts"), b = f.discSource("b.m2ts", false), c = f.discSource("c.m2ts");
  f.build();
  // The engine reports from its own threads; the observers hear of every
  // change on the main thread only, the run's end last.
  const auto mainThread = std::this_thread::get_id();
  int offMainThread = 0;
  std::vector<app::ModelField> seen;
  f.model->subscribe([&](app::ModelField field) {
    offMainThread += std::this_thread::get_id() != mainThread;
    seen.push_back(field);
  });
  f.model->addFiles({a, b, c});
  f.runToEnd();
  EXPECT_EQ(offMainThread, 0);
  EXPECT_GT(std::count(seen.begin(), seen.end(), app::ModelField::progress), 10);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), app::ModelField::isConverting);
  EXPECT_EQ(f.model->currentStage(), ConversionStage::complete);
  EXPECT_EQ(f.demuxCount(), 2u);
  EXPECT_EQ(f.model->batchOutputURLs(), (std::vector<fs::path>{f.out / "a_SBS.mkv", f.out / "c_SBS.mkv"}));
  EXPECT_EQ(f.outputNames(), (std::vector<std::string>{"a_SBS.mkv", "c_SBS.mkv"})) << "no work directory is left";
  EXPECT_EQ(f.notifier->posted.back().results, f.model->batchOutputURLs());
  f.model->revealInFinder();
  EXPECT_EQ(f.revealer->revealed.back(), f.model->batchOutputURLs());
  auto [left, right] = halfLumaMeans(f.out / "c_SBS.mkv");
  EXPECT_LT(left, 70) << "base view on the left";
  EXPECT_GT(right, 170) << "MVC view on the right";
}

/// Released when a tool of the run opens the FIFO for writing: the test
/// learns that the tool is running without polling for it.
class ToolStarted {
public:
  ToolStarted(fs::path fifo, std::shared_ptr<QueueExecutor> executor, std::shared_ptr<std::atomic<bool>> flag)
      : fifo_(std::move(fifo)) {
    EXPECT_EQ(::mkfifo(fifo_.c_str(), 0600), 0);
    reader_ = std::thread([fifo = fifo_, executor, flag] {
      std::ifstream in(fifo); // blocks until the tool opens its end
      std::string ignored((std::istreambuf_iterator<char>(in)), {});
      executor->post([flag] { flag->store(true); });
    });
  }
  ~ToolStarted() {
    // A reader still waiting (the tool never came) is released by opening
    // the other end ourselves.
    int fd = ::open(fifo_.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0)
      ::close(fd);
    reader_.join();
  }
  ToolStarted(const ToolStarted &) = delete;
  ToolStarted &operator=(const ToolStarted &) = delete;

private:
  fs::path fifo_;
  std::thread reader_;
};

TEST(EngineRun, CancelDuringTheFirstFileStopsTheDemux) {
  EngineRunFixture f;
  fs::path a = f.discSource("a.m2ts"), b = f.discSource("b.m2ts");
  fs::path fifo = f.dir / "started";
  auto started = std::make_shared<std::atomic<bool>>(false);
  ToolStarted signal(fifo, f.executor, started);
  f.demuxWrites(json::array({{{"write_file", fifo.string()}, {"content", "x"}}, {{"sleep_ms", 120000}}}));
  f.build();
  f.model->addFiles({a, b});
  f.model->startConversion();
  ASSERT_TRUE(f.executor->drainUntil([&] { return started->load(); }));
  const auto logCount = f.model->logs().size();
  f.model->startConversion(); // already running: nothing happens
  EXPECT_EQ(f.model->logs().size(), logCount);
  f.model->cancelConversion();
  ASSERT_TRUE(f.executor->drainUntil([&] { return ModelFixture::logged(*f.model, "] Conversion cancelled"); }));
  EXPECT_EQ(f.model->currentStage(), ConversionStage::idle);
  EXPECT_FALSE(f.model->isConverting());
  EXPECT_EQ(f.model->batchCompletedCount(), 0);
  EXPECT_FALSE(f.logged("=== Converting 2 of 2: b.m2ts ==="));
  EXPECT_EQ(f.demuxCount(), 1u);
  EXPECT_TRUE(f.notifier->posted.empty());
  f.model.reset(); // joins the worker
  EXPECT_TRUE(f.outputNames().empty()) << "a cancelled conversion removes its work directory";
}

TEST(EngineRun, KeptSbsFileIsReusedWithoutDecodingAgain) {
  struct Case {
    OutputTarget firstTarget;   // then Vision Pro; a first Vision Pro run keeps its side-by-side file
    const char *converterInput; // the file name MVHEVCConverter reads on the second run
    std::vector<std::string> outputs;
  };
  const Case cases[] = {
      // The cached H.264 Matroska file is remuxed into QuickTime before the converter.
      {OutputTarget::sbs3D, "disc_remuxed.mov", {"disc_MV-HEVC.mov", "disc_SBS.mkv"}},
      {OutputTarget::visionPro, "disc_SBS.mov", {"disc.mov", "disc_MV-HEVC.mov", "disc_SBS.mov"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.converterInput);
    EngineRunFixture f;
    fs::path disc = f.discSource("disc.m2ts");
    f.build();
    f.model->setOutputTarget(c.firstTarget);
    f.model->setKeepSBSIntermediate(c.firstTarget == OutputTarget::visionPro);
    f.select(disc);
    f.runToEnd();
    ASSERT_EQ(f.model->currentStage(), ConversionStage::complete) << f.model->errorMessage().value_or("");
    ASSERT_TRUE(f.model->cachedSBS());
    std::string kept = c.firstTarget == OutputTarget::sbs3D ? "disc_SBS.mkv" : "disc_SBS.mov";
    EXPECT_EQ(f.model->cachedSBS()->sbsURL, f.out / kept);

    f.model->setOutputTarget(OutputTarget::visionPro);
    f.model->setKeepSBSIntermediate(false);
    std::size_t demuxes = f.demuxCount();
    f.runToEnd();
    ASSERT_EQ(f.model->currentStage(), ConversionStage::complete) << f.model->errorMessage().value_or("");
    EXPECT_EQ(f.demuxCount(), demuxes) << "a reuse neither demuxes nor decodes";
    auto converted = f.tools.calls("MVHEVCConverter");
    ASSERT_FALSE(converted.empty());
    // A file this run writes itself is read under its temporary name.
    EXPECT_TRUE(fs::path(converted.back().args[0]).filename().string().ends_with(c.converterInput))
        << converted.back().args[0];
    EXPECT_EQ(f.model->lastOutputURL(), f.out / "disc_MV-HEVC.mov");
    EXPECT_EQ(f.outputNames(), c.outputs);
  }
}

// The run from a kept side-by-side file ends like every run: a converter
// that fills the disk is named as a full disk and leaves no partial output.
TEST(EngineRun, CachedRunNamesAFullDisk) {
  EngineRunFixture f;
  fs::path disc = f.discSource("disc.m2ts");
  f.build();
  f.model->setOutputTarget(OutputTarget::sbs3D);
  f.select(disc);
  f.runToEnd();
  ASSERT_TRUE(f.model->cachedSBS());
  f.tools.add("MVHEVCConverter", {{"steps",
                                   {{{"write_file", "{arg2}"}, {"content", "partial"}},
                                    {{"stderr", "MVHEVCConverter: write failed: No space left on device\n"}},
                                    {{"exit", 1}}}}});
  f.model->setOutputTarget(OutputTarget::visionPro);
  f.runToEnd();
  EXPECT_EQ(f.demuxCount(), 1u) << "the second run starts from the kept file";
  EXPECT_NE(f.model->errorMessage().value_or("").find("not enough space"), std::string::npos)
      << f.model->errorMessage().value_or("");
  for (const auto &name : f.outputNames()) // the failed run's folder keeps its log
    EXPECT_TRUE(name == "disc_SBS.mkv" || name.starts_with("Kestrova_")) << name;
}

} // namespace
} // namespace kestrova::test
