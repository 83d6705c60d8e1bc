#include "support/TestSupport.h"
#include "tools/Process.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

std::string stacker() {
  return (test::buildDir() / "share/kestrova/tools/yuv_hstack").string();
}

// A planar 4:2:0 picture whose every byte tells plane, view and position:
// luma = 16 + view * 100 + (x + y) % 50, chroma = 128 + view * 50 +/- plane.
std::string picture(int width, int height, int view) {
  std::string bytes;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      bytes.push_back(static_cast<char>(16 + view * 100 + (x + y) % 50));
  int cw = (width + 1) / 2, ch = (height + 1) / 2;
  bytes.append(static_cast<std::size_t>(cw * ch), static_cast<char>(100 + view * 50));
  bytes.append(static_cast<std::size_t>(cw * ch), static_cast<char>(110 + view * 50));
  return bytes;
}

tools::CollectedOutput runStacker(const fs::path &input, const std::vector<std::string> &arguments,
                                  const std::string &tail = "") {
  tools::ProcessLaunch launch;
  launch.executable = "/bin/bash";
  std::string command = "'" + stacker() + "'";
  for (const auto &argument : arguments)
    command += " '" + argument + "'";
  launch.arguments = {"-c", command + " < '" + input.string() + "'" + tail};
  return tools::runAndCollect(launch);
}

TEST(YuvHstack, PutsViewZeroLeftUnlessSwapped) {
  struct Row {
    int width, height;
    bool swap;
  };
  const Row rows[] = {{8, 4, false}, {8, 4, true}, {6, 2, false}, {7, 3, false}};
  for (const auto &row : rows) {
    TempDir dir;
    std::string input;
    for (int pair = 0; pair < 3; ++pair)
      input += picture(row.width, row.height, 0) + picture(row.width, row.height, 1);
    test::writeFile(dir / "in.yuv", input);
    std::vector<std::string> arguments{std::to_string(row.width), std::to_string(row.height)};
    if (row.swap)
      arguments.push_back("swap");
    auto output = runStacker(dir / "in.yuv", arguments);
    ASSERT_TRUE(output.status.success()) << output.standardError;
    std::string left = picture(row.width, row.height, row.swap ? 1 : 0);
    std::string right = picture(row.width, row.height, row.swap ? 0 : 1);
    // Build the expected double-width picture row by row, plane by plane.
    std::string expected;
    auto appendPlane = [&](std::size_t offset, int width, int rows) {
      for (int r = 0; r < rows; ++r) {
        expected += left.substr(offset + static_cast<std::size_t>(r * width), static_cast<std::size_t>(width));
        expected += right.substr(offset + static_cast<std::size_t>(r * width), static_cast<std::size_t>(width));
      }
    };
    int cw = (row.width + 1) / 2, ch = (row.height + 1) / 2;
    std::size_t luma = static_cast<std::size_t>(row.width * row.height);
    appendPlane(0, row.width, row.height);
    appendPlane(luma, cw, ch);
    appendPlane(luma + static_cast<std::size_t>(cw * ch), cw, ch);
    EXPECT_EQ(output.standardOutput, expected + expected + expected) << row.width << "x" << row.height;
  }
}

TEST(YuvHstack, TruncatedLastPairIsReportedAndFails) {
  TempDir dir;
  std::string pair = picture(8, 4, 0) + picture(8, 4, 1);
  test::writeFile(dir / "in.yuv", pair + pair.substr(0, pair.size() - 5));
  auto output = runStacker(dir / "in.yuv", {"8", "4"});
  EXPECT_EQ(output.status.terminationStatus, 1);
  EXPECT_EQ(output.standardOutput.size(), pair.size()) << "complete pairs are still written";
  EXPECT_NE(output.standardError.find("input ended inside frame pair 2"), std::string::npos) << output.standardError;
}

TEST(YuvHstack, ReaderThatLeavesEndsItQuietly) {
  TempDir dir;
  std::string pair = picture(64, 64, 0) + picture(64, 64, 1);
  std::string input;
  for (int i = 0; i < 400; ++i)
    input += pair;
  test::writeFile(dir / "in.yuv", input);
  auto output =
      runStacker(dir / "in.yuv", {"64", "64"}, " | head -c 100 > /dev/null; echo \"status ${PIPESTATUS[0]}\"");
  EXPECT_EQ(output.standardOutput, "status 0\n");
  EXPECT_EQ(output.standardError, "");
}

} // namespace
} // namespace kestrova
