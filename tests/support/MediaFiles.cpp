#include "support/MediaFiles.h"

#include "tools/Process.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>

namespace kestrova::test {

namespace fs = std::filesystem;

namespace {

std::string runTool(const std::string &program, const std::vector<std::string> &arguments) {
  tools::ProcessLaunch launch;
  launch.executable = program;
  launch.arguments = arguments;
  auto output = tools::runAndCollect(launch);
  EXPECT_TRUE(output.status.success()) << output.standardError;
  return output.standardOutput;
}

} // namespace

void makeSourceWithAudio(const fs::path &file) {
  runTool("/usr/bin/ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=24", "-f", "lavfi",
                              "-i", "sine=frequency=440:sample_rate=48000", "-t", "1", "-c:v", "libx264", "-c:a", "aac",
                              "-shortest", file.string()});
}

std::pair<double, double> halfLumaMeans(const fs::path &video) {
  std::string size = probe(
      {"-v", "error", "-select_streams", "v:0", "-show_entries", "stream=width,height", "-of", "csv=p=0:s=x"}, video);
  int width = 0, height = 0;
  EXPECT_EQ(std::sscanf(size.c_str(), "%dx%d", &width, &height), 2) << size;
  std::string frames = runTool("/usr/bin/ffmpeg", {"-v", "error", "-i", video.string(), "-f", "rawvideo", "-vf",
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
  return runTool("/usr/bin/ffprobe", all);
}

} // namespace kestrova::test
