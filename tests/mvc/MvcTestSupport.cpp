#include "MvcTestSupport.h"

#include "tools/Process.h"

#include <cstdlib>
#include <gtest/gtest.h>

#include <algorithm>

namespace kestrova::test {
namespace fs = std::filesystem;

MvcEngineFixture::MvcEngineFixture() {
  tools::SystemPrograms programs;
  programs.which = (dir / "no-which").string();
  engine = std::make_unique<pipeline::PipelineEngine>(
      tools::ToolLocator(tools::BundlePaths{"", "/nonexistent", ""}, programs, {tools.path().string() + "/"}));
  engine->verboseLogging = true;
  engine->onLog = [this](const std::string &line) {
    std::lock_guard lock(mutex);
    lines.push_back(line);
  };
}

void MvcEngineFixture::addRealFfmpeg() {
  tools.addReal("ffmpeg", "/usr/bin/ffmpeg");
}

void MvcEngineFixture::addFakeLdecod() {
  tools.addReal("ldecod", KESTROVA_FAKE_LDECOD_PATH);
}

void MvcEngineFixture::addStreamingTools() {
  fs::copy_file(KESTROVA_LDECOD_PIPE_PATH, tools / "ldecod-pipe");
  tools.addReal("yuv_hstack", KESTROVA_YUV_HSTACK_PATH);
}

void MvcEngineFixture::addParallelScript(bool dualSplit) {
  // Copies: the script takes its helpers from its own folder.
  fs::copy_file(KESTROVA_PARALLEL_SCRIPT, tools / "parallel-pipeline.sh");
  fs::copy_file(KESTROVA_NAL_SCAN_PATH, tools / "nal-scan");
  if (dualSplit) {
    fs::copy_file(KESTROVA_NAL_DUAL_SPLIT_PATH, tools / "nal-dual-split");
    fs::copy_file(KESTROVA_NAL_INTERLEAVE_PATH, tools / "nal-interleave");
  }
}

MvcConversionFixture::MvcConversionFixture(const std::string &sourceName, Stereo3DMode mode) {
  using nlohmann::json;
  addRealFfmpeg();
  addFakeLdecod();
  fs::create_directories(output);
  job.sourceURL = dir / sourceName;
  job.outputDirectory = output;
  job.qualityPreset = QualityPreset::low;
  makeSourceWithAudio(job.sourceURL);
  info.stereoMode = mode;
  info.videoWidth = kWidth;
  info.videoHeight = kHeight;
  info.frameRateNum = 24;
  info.frameRateDen = 1;
  info.duration = 0.5;
  tools.add("ffprobe", twoViewProbeScript(kFrames));
  demuxWrites({".track_4113.264", ".track_4114.mvc"});
  tools.add("MVHEVCConverter", {{"steps",
                                 {{{"when_arg1", "-"}, {"copy_stdin_to", "/dev/null"}},
                                  {{"stdout", "Frame 6/12 (50.0%)\n"}},
                                  {{"write_file", "{arg2}"}, {"content", "spatial"}}}}});
}

void MvcConversionFixture::demuxWrites(const std::vector<std::string> &suffixes, int mvcFrames) {
  // The view streams hold binary parameter sets, which a fake tool's JSON
  // script cannot carry: the double prints the listing, and a wrapper copies
  // streams prepared here into the directory tsMuxeR is given.
  const fs::path prepared = dir / "demuxed";
  fs::remove_all(prepared);
  fs::create_directories(prepared);
  for (const auto &suffix : suffixes) {
    bool mvc = suffix.ends_with(".mvc") || suffix.find("4114") != std::string::npos;
    writeFile(prepared / (job.sourceURL.stem().string() + suffix),
              mvc ? mvcViewStream(mvcFrames, kWidth, kHeight, idrInterval)
                  : baseViewStream(kFrames, kWidth, kHeight, idrInterval));
  }
  // What the real tsMuxeR reports on a disc stream or a 3D Matroska file.
  const char *report = info.stereoMode == Stereo3DMode::mvcSeparateTracks() ? "tsmuxer-info-clip24.m2ts.txt"
                                                                            : "tsmuxer-info-clip24_lr.mkv.txt";
  nlohmann::json listing = {{"when_args", 1}, {"stdout", readFile(sourceDir() / "tests/fakes/recordings" / report)}};
  tools.add("tsmuxer-listing", {{"steps", nlohmann::json::array({listing})}});
  writeDemuxWrapper();
}

void MvcConversionFixture::blockFifo() {
  fifoBlocked_ = true;
  writeDemuxWrapper();
}

void MvcConversionFixture::writeDemuxWrapper() {
  // tsMuxeR is called "tsmuxer META OUTPUT_DIR" for a demux; the listing
  // run has no second argument.
  std::string script = "#!/bin/bash\n\"$(dirname \"$0\")/tsmuxer-listing\" \"$@\" || exit\n"
                       "[ $# -ge 2 ] || exit 0\ncp " +
                       std::string("'") + (dir / "demuxed").string() + "'" + "/* \"$2/\" || exit\n";
  if (fifoBlocked_)
    script += "mkdir -p \"$2/interleave_fifo.264/in-the-way\"\n";
  fs::remove(tools / "tsmuxer");
  writeFile(tools / "tsmuxer", script);
  fs::permissions(tools / "tsmuxer", fs::perms::owner_all, fs::perm_options::add);
}

std::vector<fs::path> MvcConversionFixture::workDirectories() const {
  std::vector<fs::path> found;
  for (const auto &entry : fs::directory_iterator(output))
    if (entry.path().filename().string().starts_with("Kestrova_"))
      found.push_back(entry.path());
  return found;
}

std::vector<std::string> entryNames(const fs::path &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> MvcConversionFixture::outputNames() const {
  return entryNames(output);
}

std::size_t MvcEngineFixture::converterRuns() const {
  const auto calls = tools.calls("MVHEVCConverter");
  return std::count_if(calls.begin(), calls.end(), [](const FakeCall &call) { return !call.args.empty(); });
}

std::vector<std::string> MvcEngineFixture::logLines() {
  std::lock_guard lock(mutex);
  return lines;
}

std::vector<std::pair<ConversionStage, double>> MvcEngineFixture::progressPairs() {
  std::lock_guard lock(mutex);
  return progress;
}

pipeline::ProgressReport MvcEngineFixture::progressRecorder() {
  return [this](ConversionStage stage, double fraction) {
    std::lock_guard lock(mutex);
    progress.emplace_back(stage, fraction);
  };
}

namespace {
constexpr const char *kScratchVariables[2] = {"XDG_RUNTIME_DIR", "TMPDIR"};
}

ScratchFolders::ScratchFolders(const std::string &folder) {
  for (int i = 0; i < 2; ++i) {
    if (const char *value = std::getenv(kScratchVariables[i]))
      saved_[i] = value;
    ::setenv(kScratchVariables[i], folder.c_str(), 1);
  }
}

ScratchFolders::~ScratchFolders() {
  for (int i = 0; i < 2; ++i) {
    if (saved_[i])
      ::setenv(kScratchVariables[i], saved_[i]->c_str(), 1);
    else
      ::unsetenv(kScratchVariables[i]);
  }
}

} // namespace kestrova::test
