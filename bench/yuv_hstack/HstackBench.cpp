// Throughput of side-by-side stacking of 1920x1080 4:2:0 pairs against a
// plain copy of the same bytes: first the stacking loop against memcpy in
// memory, then the yuv_hstack program against `cat`, each reading the same
// file and writing into a pipe that this program drains. Rounds alternate so
// that neither side always runs on a warmer machine.
#include "FrameStacker.h"
#include "tools/Process.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fmt/format.h>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using kestrova::helpers::PlanarGeometry;

constexpr int kRounds = 3;

double seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Output bytes per second of one program run that reads `input`.
double programRate(const std::string &command) {
  kestrova::tools::ProcessLaunch launch;
  launch.executable = "/bin/bash";
  launch.arguments = {"-c", command};
  launch.standardError = kestrova::tools::StreamMode::discard;
  auto process = kestrova::tools::Process::create(launch);
  std::uint64_t bytes = 0;
  auto start = Clock::now();
  auto status = kestrova::tools::runAndStream(*process, [&](std::string_view chunk) { bytes += chunk.size(); }, {});
  double elapsed = seconds(start);
  if (!status.success())
    throw std::runtime_error("failed: " + command);
  return static_cast<double>(bytes) / elapsed;
}

std::string quoted(const std::string &path) {
  return "'" + path + "'";
}

} // namespace

int main() {
  const PlanarGeometry geometry{1920, 1080};
  const std::size_t frame = geometry.frameBytes();
  const int pairs = 48;

  // In memory: one pair stacked, against the same 2 x frame bytes copied.
  std::vector<std::uint8_t> left(frame), right(frame), out(2 * frame);
  for (std::size_t i = 0; i < frame; ++i) {
    left[i] = static_cast<std::uint8_t>(i * 7);
    right[i] = static_cast<std::uint8_t>(i * 13);
  }
  double stackBest = 0, copyBest = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto start = Clock::now();
    for (int i = 0; i < 200; ++i)
      kestrova::helpers::stackSideBySide(geometry, left, right, out);
    stackBest = std::max(stackBest, 200.0 * static_cast<double>(2 * frame) / seconds(start));
    start = Clock::now();
    for (int i = 0; i < 200; ++i) {
      std::memcpy(out.data(), left.data(), frame);
      std::memcpy(out.data() + frame, right.data(), frame);
    }
    copyBest = std::max(copyBest, 200.0 * static_cast<double>(2 * frame) / seconds(start));
  }
  fmt::print("in memory, 1920x1080 pairs:  stack {:7.0f} MB/s   memcpy {:7.0f} MB/s   ratio {:.2f}\n", stackBest / 1e6,
             copyBest / 1e6, stackBest / copyBest);

  // As programs: the same file through yuv_hstack and through cat.
  const std::filesystem::path scratch = KESTROVA_BENCH_SCRATCH;
  std::filesystem::create_directories(scratch);
  const std::filesystem::path input = scratch / "pairs.yuv";
  {
    std::ofstream file(input, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < pairs; ++i) {
      file.write(reinterpret_cast<const char *>(left.data()), static_cast<std::streamsize>(frame));
      file.write(reinterpret_cast<const char *>(right.data()), static_cast<std::streamsize>(frame));
    }
  }
  const std::string hstack = "exec " + quoted(KESTROVA_YUV_HSTACK) + " 1920 1080 < " + quoted(input.string());
  const std::string cat = "exec cat < " + quoted(input.string());
  programRate(cat); // warms the page cache
  std::vector<double> hstackRates, catRates;
  for (int round = 0; round < kRounds; ++round) {
    hstackRates.push_back(programRate(hstack));
    catRates.push_back(programRate(cat));
  }
  std::filesystem::remove_all(scratch);
  std::sort(hstackRates.begin(), hstackRates.end());
  std::sort(catRates.begin(), catRates.end());
  const double hstackMedian = hstackRates[kRounds / 2], catMedian = catRates[kRounds / 2];
  fmt::print(
      "programs, {} pairs into a pipe: yuv_hstack {:7.0f} MB/s   cat {:7.0f} MB/s   ratio {:.2f} (median of {})\n",
      pairs, hstackMedian / 1e6, catMedian / 1e6, hstackMedian / catMedian, kRounds);
  return 0;
}
