#include "SourcesFixture.h"

#include "tools/Process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kestrova::test {
namespace fs = std::filesystem;

SourcesFixture::SourcesFixture() {
  tools.addReal("ffmpeg", "/usr/bin/ffmpeg");
  tools.addReal("ffprobe", "/usr/bin/ffprobe");
  kestrova::tools::SystemPrograms programs;
  programs.which = (dir / "no-which").string();
  engine = std::make_unique<pipeline::PipelineEngine>(kestrova::tools::ToolLocator(
      kestrova::tools::BundlePaths{"", "/nonexistent", ""}, programs, {(dir / "tools/").string()}));
  fs::create_directories(output);
}

ConversionJob SourcesFixture::job(const fs::path &source, OutputTarget target) const {
  ConversionJob job;
  job.sourceURL = source;
  job.outputDirectory = output;
  job.qualityPreset = QualityPreset::low;
  job.outputTarget = target;
  return job;
}

ConversionResult SourcesFixture::convert(const ConversionJob &job, const SourceFileInfo &info) {
  return engine->convert(
      job, info,
      [this](ConversionStage stage, double fraction) {
        std::lock_guard lock(mutex);
        progress.emplace_back(stage, fraction);
      },
      nullptr);
}

namespace {

// Sets or clears the immutable flag of `folder`; false when it cannot.
bool setImmutable(const fs::path &folder, bool on) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return false;
  int flags = 0;
  bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return done;
}

} // namespace

ImmutableFolder::ImmutableFolder(fs::path folder) : folder_(std::move(folder)) {
  applied_ = setImmutable(folder_, true);
}

ImmutableFolder::~ImmutableFolder() {
  // Cleared even when the test failed, or the scratch folder could not be removed.
  if (applied_)
    setImmutable(folder_, false);
}

void runFfmpeg(const std::vector<std::string> &arguments) {
  kestrova::tools::ProcessLaunch launch;
  launch.executable = "/usr/bin/ffmpeg";
  launch.arguments = {"-v", "error", "-y"};
  launch.arguments.insert(launch.arguments.end(), arguments.begin(), arguments.end());
  auto result = kestrova::tools::runAndCollect(launch);
  ASSERT_TRUE(result.status.success()) << result.standardError;
}

std::vector<std::pair<double, double>> halfBrightness(const fs::path &video) {
  kestrova::tools::ProcessLaunch launch;
  launch.executable = "/usr/bin/ffmpeg";
  launch.arguments = {"-v",       "error", "-i",  video.string(), "-f", "rawvideo",
                      "-pix_fmt", "gray",  "-vf", "scale=16:4",   "-"};
  auto result = kestrova::tools::runAndCollect(launch);
  EXPECT_TRUE(result.status.success()) << result.standardError;
  std::vector<std::pair<double, double>> frames;
  const std::string &bytes = result.standardOutput;
  for (std::size_t at = 0; at + 64 <= bytes.size(); at += 64) {
    double left = 0, right = 0;
    for (int row = 0; row < 4; ++row)
      for (int x = 0; x < 16; ++x)
        (x < 8 ? left : right) += static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(row * 16 + x)]);
    frames.emplace_back(left / 32, right / 32);
  }
  return frames;
}

void makeTwoEyeSource(const fs::path &file, const std::string &eyeSize, const std::string &pack, int frames,
                      double seconds, const std::vector<std::string> &videoArguments) {
  std::vector<std::string> arguments{"-f",
                                     "lavfi",
                                     "-i",
                                     "testsrc2=size=" + eyeSize + ":rate=24",
                                     "-f",
                                     "lavfi",
                                     "-i",
                                     "sine=duration=" + std::to_string(seconds),
                                     "-filter_complex",
                                     "[0:v]split[l0][r0];[l0]null[l];[r0]negate,hflip[r];" + pack,
                                     "-map",
                                     "[v]",
                                     "-map",
                                     "1:a",
                                     "-frames:v",
                                     std::to_string(frames),
                                     "-c:v",
                                     "libx264"};
  arguments.insert(arguments.end(), videoArguments.begin(), videoArguments.end());
  arguments.insert(arguments.end(), {"-pix_fmt", "yuv420p", "-c:a", "aac", file.string()});
  runFfmpeg(arguments);
}

std::vector<std::uint8_t> rawPictures(const fs::path &input, const std::string &filter, int width, int height,
                                      const fs::path &raw) {
  runFfmpeg({"-i", input.string(), "-vf", filter + ",scale=" + std::to_string(width) + ":" + std::to_string(height),
             "-f", "rawvideo", "-fps_mode", "passthrough", "-pix_fmt", "yuv420p", raw.string()});
  std::string bytes = readFile(raw);
  return {bytes.begin(), bytes.end()};
}

void makeFrameAlternateSource(const fs::path &file, double seconds) {
  std::string length = std::to_string(seconds);
  runFfmpeg({"-f", "lavfi", "-i", "color=c=black:size=64x48:rate=48:duration=" + length, "-f", "lavfi", "-i",
             "sine=frequency=440:duration=" + length, "-vf", "geq=lum='if(mod(N,2),235,16)':cb=128:cr=128", "-c:v",
             "libx264", "-qp", "0", "-c:a", "aac", file.string()});
}

} // namespace kestrova::test
