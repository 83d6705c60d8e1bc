// Wall time of parallel-pipeline.sh with 1, 2 and 4 workers on the same
// stream, over a decoder stand-in whose cost is fixed per picture: the JM
// decoder's double, then busy_work for every picture it decoded. The
// pictures are small so that the decoder, not the encoder, dominates, as the
// JM decoder does with real films. Rounds alternate the worker counts.
#include "StreamBuilder.h"
#include "tools/Process.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fmt/format.h>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double runScript(const fs::path &tools, const fs::path &work, int workers) {
  kestrova::tools::ProcessLaunch launch;
  launch.executable = "/bin/bash";
  launch.arguments = {(tools / "parallel-pipeline.sh").string(),
                      (work / "in.264").string(),
                      (work / "in.264").string(),
                      (work / "out_SBS.mkv").string(),
                      "--width",
                      "160",
                      "--height",
                      "96",
                      "--fps",
                      "24/1",
                      "--encode",
                      "-c:v",
                      "--encode",
                      "libx265",
                      "--encode",
                      "-crf",
                      "--encode",
                      "26",
                      "--join",
                      "-c:a",
                      "--join",
                      "copy",
                      "--workdir",
                      work.string(),
                      "--workers",
                      std::to_string(workers)};
  launch.standardOutput = kestrova::tools::StreamMode::discard;
  launch.standardError = kestrova::tools::StreamMode::inherit;
  auto start = Clock::now();
  auto output = kestrova::tools::runAndCollect(launch);
  double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  if (!output.status.success())
    throw std::runtime_error("parallel-pipeline.sh failed with " + std::to_string(workers) + " workers");
  return elapsed;
}

// How many cores this process tree really gets right now: one batch of
// fixed work alone, then two at once. On a shared machine the scheduler may
// give a session less than the core count, and no speed-up can exceed this.
double availableParallelism() {
  kestrova::tools::ProcessLaunch launch;
  launch.executable = "/bin/bash";
  const std::string busy = std::string("'") + KESTROVA_BUSY_WORK + "' 100 > /dev/null";
  auto timed = [&](const std::string &command) {
    launch.arguments = {"-c", command};
    auto start = Clock::now();
    kestrova::tools::runAndCollect(launch);
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  const double one = timed(busy);
  const double two = timed(busy + " & " + busy + " & wait");
  return 2.0 * one / two;
}

} // namespace

int main() {
  const fs::path scratch = KESTROVA_BENCH_SCRATCH;
  fs::remove_all(scratch);
  const fs::path tools = scratch / "share/kestrova/tools", work = scratch / "work";
  fs::create_directories(tools);
  fs::create_directories(work);
  for (const char *name :
       {"ldecod-pipe", "yuv_hstack", "nal-scan", "nal-dual-split", "nal-interleave", "parallel-pipeline.sh"})
    fs::copy_file(fs::path(KESTROVA_TOOLS_DIR) / name, tools / name);
  {
    std::ofstream decoder(tools / "ldecod");
    decoder << "#!/bin/bash\n"
            << "report=$('" << KESTROVA_FAKE_LDECOD << "' \"$@\") || exit $?\n"
            << "echo \"$report\"\n"
            << "pictures=$(sed -n 's/^\\([0-9]*\\) frames are decoded.*/\\1/p' <<<\"$report\")\n"
            << "exec '" << KESTROVA_BUSY_WORK << "' \"$pictures\" > /dev/null\n";
  }
  fs::permissions(tools / "ldecod", fs::perms::owner_all);
  const int frames = 192;
  kestrova::streaming::test::writeBytes(work / "in.264",
                                        kestrova::streaming::test::makeStreams(160, 96, frames, 24).interleaved);

  const double parallelism = availableParallelism();
  const std::vector<int> workerCounts{1, 2, 4};
  std::map<int, std::vector<double>> times;
  for (int round = 0; round < 3; ++round)
    for (int workers : workerCounts)
      times[workers].push_back(runScript(tools, work, workers));
  fs::remove_all(scratch);

  fmt::print("parallel-pipeline.sh, {} frame pairs 160x96, {} cores, decoder stand-in with fixed work per picture\n",
             frames, std::thread::hardware_concurrency());
  fmt::print("  cores this run really got (two fixed batches at once against one): {:.2f}\n", parallelism);
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double single = median(times[1]);
  for (int workers : workerCounts)
    fmt::print("  {} worker(s): median {:6.2f} s (rounds {:.2f} {:.2f} {:.2f})  speed-up {:.2f}x\n", workers,
               median(times[workers]), times[workers][0], times[workers][1], times[workers][2],
               single / median(times[workers]));
  return 0;
}
