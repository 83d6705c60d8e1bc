#include "BlurayMedia.h"

#include "tools/Process.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace kestrova::test {

namespace fs = std::filesystem;

namespace {

std::string nal(char header, const std::string &payload) {
  return std::string("\0\0\0\1", 4) + header + payload;
}

std::string viewText(int frames, int width, int height, bool mvc) {
  std::string stream;
  for (int frame = 0; frame < frames; ++frame) {
    stream += nal(mvc ? 0x18 : 0x09, "\x10");
    if (frame == 0)
      stream += nal(mvc ? 0x6F : 0x67, "W" + std::to_string(width) + "H" + std::to_string(height));
    stream += nal(mvc ? 0x74 : (frame == 0 ? 0x65 : 0x41), "F" + std::to_string(frame));
  }
  return stream;
}

std::string run(const std::string &program, const std::vector<std::string> &arguments) {
  tools::ProcessLaunch launch;
  launch.executable = program;
  launch.arguments = arguments;
  auto output = tools::runAndCollect(launch);
  EXPECT_TRUE(output.status.success()) << output.standardError;
  return output.standardOutput;
}

} // namespace

std::string baseViewText(int frames, int width, int height) {
  return viewText(frames, width, height, false);
}

std::string mvcViewText(int frames, int width, int height) {
  return viewText(frames, width, height, true);
}

void makeMediaWithAudio(const fs::path &file) {
  run("/usr/bin/ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=24", "-f", "lavfi", "-i",
                          "sine=frequency=440:sample_rate=48000", "-t", "1", "-c:v", "libx264", "-c:a", "aac",
                          "-shortest", file.string()});
}

std::pair<double, double> halfLuma(const fs::path &video) {
  std::string size = run("/usr/bin/ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                              "stream=width,height", "-of", "csv=p=0:s=x", video.string()});
  int width = 0, height = 0;
  EXPECT_EQ(std::sscanf(size.c_str(), "%dx%d", &width, &height), 2) << size;
  if (width <= 0)
    return {0, 0};
  std::string frames =
      run("/usr/bin/ffmpeg", {"-v", "error", "-i", video.string(), "-f", "rawvideo", "-pix_fmt", "gray", "-"});
  double sums[2] = {0, 0};
  std::size_t counts[2] = {0, 0};
  for (std::size_t i = 0; i < frames.size(); ++i) {
    int half = static_cast<int>(i % static_cast<std::size_t>(width)) < width / 2 ? 0 : 1;
    sums[half] += static_cast<unsigned char>(frames[i]);
    ++counts[half];
  }
  return {counts[0] ? sums[0] / static_cast<double>(counts[0]) : 0,
          counts[1] ? sums[1] / static_cast<double>(counts[1]) : 0};
}

} // namespace kestrova::test
