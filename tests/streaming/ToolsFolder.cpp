#include "ToolsFolder.h"

#include <sys/stat.h>

namespace kestrova::streaming::test {

namespace fs = std::filesystem;

ToolsFolder::ToolsFolder(bool withDecoder) : tools_(root_.path() / "share/kestrova/tools") {
  fs::create_directories(tools_);
  fs::create_directories(work());
  const fs::path built = kestrova::test::buildDir() / "share/kestrova/tools";
  for (const char *name :
       {"ldecod-pipe", "yuv_hstack", "nal-scan", "nal-dual-split", "nal-interleave", "parallel-pipeline.sh"})
    if (fs::exists(built / name))
      fs::copy_file(built / name, tools_ / name);
  if (withDecoder)
    fs::copy_file(KESTROVA_FAKE_LDECOD_PATH, tools_ / "ldecod");
}

void ToolsFolder::setDecoderScript(const std::string &body) const {
  fs::remove(tools_ / "ldecod");
  kestrova::test::writeFile(tools_ / "ldecod", "#!/bin/bash\n" + body + "\n");
  fs::permissions(tools_ / "ldecod", fs::perms::owner_all);
}

std::string quoted(const std::string &text) {
  std::string out = "'";
  for (char c : text)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

tools::CollectedOutput runShell(const std::string &command, const fs::path &directory) {
  tools::ProcessLaunch launch;
  launch.executable = "/bin/bash";
  launch.arguments = {"-c", command};
  launch.workingDirectory = directory;
  return tools::runAndCollect(launch);
}

long frameCounter(const std::uint8_t *luma, int width) {
  long counter = 0;
  for (int bit = 0; bit < 16 && (bit + 1) * 4 <= width; ++bit) {
    int sum = 0;
    for (int row = 0; row < 4; ++row)
      for (int column = bit * 4; column < bit * 4 + 4; ++column)
        sum += luma[row * width + column];
    if (sum / 16 > 128)
      counter |= 1L << bit;
  }
  return counter;
}

std::vector<FrameLabel> labelFrames(const std::string &yuv, int width, int height, int regionOffset) {
  const std::size_t frame = static_cast<std::size_t>(width * height * 3 / 2);
  std::vector<FrameLabel> labels;
  for (std::size_t at = 0; at + frame <= yuv.size(); at += frame) {
    const auto *luma = reinterpret_cast<const std::uint8_t *>(yuv.data() + at);
    // Counter of the region starting `regionOffset` columns in; mean luma below the counter rows.
    std::vector<std::uint8_t> region(static_cast<std::size_t>(4 * width));
    for (int row = 0; row < 4; ++row)
      for (int x = 0; x < width - regionOffset; ++x)
        region[static_cast<std::size_t>(row * width + x)] = luma[row * width + regionOffset + x];
    long sum = 0;
    int count = 0;
    for (int y = 8; y < height; ++y)
      for (int x = regionOffset; x < regionOffset + 8 && x < width; ++x, ++count)
        sum += luma[y * width + x];
    labels.push_back({frameCounter(region.data(), width), count ? static_cast<int>(sum / count) : 0});
  }
  return labels;
}

} // namespace kestrova::streaming::test
