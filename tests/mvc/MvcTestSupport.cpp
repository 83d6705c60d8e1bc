#include "MvcTestSupport.h"

#include "pipeline/ShellQuote.h"
#include "tools/Process.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrova::test {
namespace fs = std::filesystem;

MvcEngineFixture::MvcEngineFixture() {
  tools::SystemPrograms programs;
  programs.pkill = tools.add("pkill").string();
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
  tools.add("ffprobe", {{"steps",
                         {{{"stdout", json{{"streams",
                                            {{{"index", 0}, {"codec_type", "video"}, {"codec_name", "h264"}},
                                             {{"index", 1}, {"codec_type", "video"}, {"codec_name", "h264"}}}}}
                                          .dump()}}}}});
  demuxWrites({".track_4113.264", ".track_4114.mvc"});
  tools.add("MVHEVCConverter", {{"steps", {{{"stdout", "Frame 6/12 (50.0%)\n"}}, {{"write_file", "{arg2}"}}}}});
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
  tools.add("tsmuxer-listing", {{"steps",
                                 {{{"stdout", "Track ID:    1\nStream type: MVC\nsubTrack: 1\n\n"
                                              "Track ID:    1\nStream type: H.264\nsubTrack: 2\n"}}}}});
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
                       pipeline::shellQuote((dir / "demuxed").string()) + "/* \"$2/\" || exit\n";
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

std::vector<std::string> MvcConversionFixture::outputNames() const {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(output))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> MvcEngineFixture::logLines() {
  std::lock_guard lock(mutex);
  return lines;
}

std::vector<std::pair<ConversionStage, double>> MvcEngineFixture::progressPairs() {
  std::lock_guard lock(mutex);
  return progress;
}

bool MvcEngineFixture::logged(const std::string &line) {
  auto all = logLines();
  return std::find(all.begin(), all.end(), line) != all.end();
}

pipeline::ProgressReport MvcEngineFixture::progressRecorder() {
  return [this](ConversionStage stage, double fraction) {
    std::lock_guard lock(mutex);
    progress.emplace_back(stage, fraction);
  };
}

namespace {

std::string runFfmpeg(const std::string &program, const std::vector<std::string> &arguments) {
  tools::ProcessLaunch launch;
  launch.executable = program;
  launch.arguments = arguments;
  auto output = tools::runAndCollect(launch);
  EXPECT_TRUE(output.status.success()) << output.standardError;
  return output.standardOutput;
}

} // namespace

void makeSourceWithAudio(const fs::path &file) {
  runFfmpeg("/usr/bin/ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=24", "-f", "lavfi",
                                "-i", "sine=frequency=440:sample_rate=48000", "-t", "1", "-c:v", "libx264", "-c:a",
                                "aac", "-shortest", file.string()});
}

std::pair<double, double> halfLumaMeans(const fs::path &video) {
  std::string size = probe(
      {"-v", "error", "-select_streams", "v:0", "-show_entries", "stream=width,height", "-of", "csv=p=0:s=x"}, video);
  int width = 0, height = 0;
  EXPECT_EQ(std::sscanf(size.c_str(), "%dx%d", &width, &height), 2) << size;
  std::string frames = runFfmpeg("/usr/bin/ffmpeg", {"-v", "error", "-i", video.string(), "-f", "rawvideo", "-vf",
                                                     "extractplanes=y", "-pix_fmt", "gray", "-"});
  double left = 0, right = 0;
  std::size_t leftCount = 0, rightCount = 0;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    bool isLeft = static_cast<int>(i % static_cast<std::size_t>(width)) < width / 2;
    (isLeft ? left : right) += static_cast<unsigned char>(frames[i]);
    ++(isLeft ? leftCount : rightCount);
  }
  return {leftCount ? left / static_cast<double>(leftCount) : 0,
          rightCount ? right / static_cast<double>(rightCount) : 0};
}

std::string streamSummary(const fs::path &file) {
  auto report = nlohmann::json::parse(probe({"-v", "error", "-show_streams", "-of", "json"}, file));
  std::string summary;
  for (const auto &stream : report["streams"]) {
    if (!summary.empty())
      summary += ", ";
    summary += stream.value("codec_type", "");
    if (stream.value("codec_type", "") == "video") {
      summary += " " + std::to_string(stream.value("width", 0)) + "x" + std::to_string(stream.value("height", 0));
      if (stream.contains("tags"))
        for (const auto &[key, value] : stream["tags"].items())
          if (key == "stereo_mode" || key == "STEREO_MODE")
            summary += " " + value.get<std::string>();
    }
  }
  return summary;
}

std::string probe(const std::vector<std::string> &arguments, const fs::path &file) {
  std::vector<std::string> all = arguments;
  all.push_back(file.string());
  return runFfmpeg("/usr/bin/ffprobe", all);
}

} // namespace kestrova::test
