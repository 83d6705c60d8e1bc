// Decode-only speed of the two streaming decoders on the same 1080p stream
// (the 24-pair disc clip repeated, each copy opening with its IDR picture),
// output thrown away: ldecod-pipe with the JM decoder, and edge264-pipe
// with no worker thread and with two. Rounds alternate the decoders; each
// figure is the best round. CPU seconds count the decoder and its children,
// so pairs per CPU second is the speed on one core whatever the machine's
// load; wall-clock pairs per second is what a conversion sees.
#include "tools/Process.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fmt/format.h>
#include <fstream>
#include <sys/resource.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kCopies = 4, kPairsPerCopy = 24, kRounds = 3;

struct Timing {
  double wall = 1e30;
  double cpu = 1e30;
};

double childCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void timeRun(const std::string &program, std::vector<std::string> arguments, const fs::path &work, Timing &best) {
  kestrova::tools::ProcessLaunch launch;
  launch.executable = program;
  launch.arguments = std::move(arguments);
  launch.workingDirectory = work;
  launch.standardOutput = kestrova::tools::StreamMode::discard;
  launch.standardError = kestrova::tools::StreamMode::discard;
  const double cpuBefore = childCpuSeconds();
  const auto start = Clock::now();
  auto process = kestrova::tools::Process::create(launch);
  const auto status = kestrova::tools::runAndStream(*process, {}, {});
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  if (!status.success())
    throw std::runtime_error(program + " failed");
  best.wall = std::min(best.wall, wall);
  best.cpu = std::min(best.cpu, childCpuSeconds() - cpuBefore);
}

} // namespace

int main() {
  const fs::path scratch = KESTROVA_BENCH_SCRATCH, tools = scratch / "share/kestrova/tools", work = scratch / "work";
  fs::remove_all(scratch);
  fs::create_directories(tools);
  fs::create_directories(work);
  // ldecod-pipe finds the JM decoder beside itself in an installed tools folder.
  fs::copy_file(fs::path(KESTROVA_TOOLS_DIR) / "ldecod-pipe", tools / "ldecod-pipe");
  fs::copy_file(KESTROVA_LDECOD, tools / "ldecod");
  const fs::path clip = fs::path(KESTROVA_SOURCE_DIR) / "../shared/testdata/bluray/clip24-views.264";
  const fs::path stream = work / "stream.264";
  {
    std::ifstream in(fs::exists(clip) ? clip
                                      : fs::path(KESTROVA_SOURCE_DIR) / "../../shared/testdata/bluray/clip24-views.264",
                     std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty())
      throw std::runtime_error("the disc clip clip24-views.264 is missing");
    std::ofstream out(stream, std::ios::binary);
    for (int copy = 0; copy < kCopies; ++copy)
      out << bytes;
  }
  const std::string edge264 = (fs::path(KESTROVA_TOOLS_DIR) / "edge264-pipe").string();
  const std::vector<std::string> input = {"-p", "InputFile=" + stream.string(), "-p", "OutputFile=out.yuv"};
  auto withThreads = [&](const char *threads) {
    auto arguments = input;
    arguments.insert(arguments.begin(), {"--threads", threads});
    return arguments;
  };
  Timing jm, one, two;
  for (int round = 0; round < kRounds; ++round) {
    timeRun((tools / "ldecod-pipe").string(), input, work, jm);
    timeRun(edge264, withThreads("0"), work, one);
    timeRun(edge264, withThreads("2"), work, two);
  }
  const double pairs = kCopies * kPairsPerCopy;
  fmt::print("{} frame pairs of 1920x1080, best of {} rounds\n", pairs, kRounds);
  fmt::print("{:<28} {:>12} {:>14} {:>10} {:>10}\n", "decoder", "pairs/s wall", "pairs/CPU-s", "wall x JM", "CPU x JM");
  auto row = [&](const char *name, const Timing &t) {
    fmt::print("{:<28} {:>12.1f} {:>14.1f} {:>10.2f} {:>10.2f}\n", name, pairs / t.wall, pairs / t.cpu,
               jm.wall / t.wall, jm.cpu / t.cpu);
  };
  row("ldecod-pipe (JM)", jm);
  row("edge264-pipe, no threads", one);
  row("edge264-pipe, 2 threads", two);
  fs::remove_all(scratch);
  return 0;
}
