#include "pipeline/ChunkPlan.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>

namespace kestrova::pipeline {

std::vector<ChunkSpan> planChunks(const std::vector<std::int64_t> &idrFrames, std::int64_t totalFrames,
                                  double framesPerSecond, double chunkSeconds) {
  if (!(framesPerSecond > 0) || !(chunkSeconds > 0))
    throw std::invalid_argument("chunk planning needs a positive frame rate and chunk length");
  std::vector<ChunkSpan> chunks;
  if (totalFrames <= 0)
    return chunks;
  const auto target = std::max<std::int64_t>(1, std::llround(framesPerSecond * chunkSeconds));
  std::vector<std::int64_t> cuts{0};
  std::vector<std::int64_t> idrs(idrFrames);
  std::sort(idrs.begin(), idrs.end());
  for (const auto idr : idrs)
    if (idr > 0 && idr < totalFrames && idr - cuts.back() >= target)
      cuts.push_back(idr);
  if (cuts.size() > 1 && totalFrames - cuts.back() < target / 2)
    cuts.pop_back();
  for (std::size_t i = 0; i < cuts.size(); ++i) {
    const auto end = i + 1 < cuts.size() ? cuts[i + 1] : totalFrames;
    chunks.push_back({static_cast<int>(i), cuts[i], end - cuts[i]});
  }
  return chunks;
}

FilmCuts keyFrameCuts(const std::vector<std::optional<std::int64_t>> &presentation, const std::vector<bool> &key,
                      int picturesPerUnit) {
  const auto count = static_cast<std::int64_t>(presentation.size());
  const auto unit = std::max<std::int64_t>(1, picturesPerUnit);
  FilmCuts cuts{{0}, count / unit, {{0, 0, 0}}, {}};
  if (count == 0 || std::any_of(presentation.begin(), presentation.end(), [](const auto &time) { return !time; }))
    return cuts;
  // Each packet's place in presentation order (ties in decoding order).
  std::vector<std::int64_t> order(presentation.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::int64_t a, std::int64_t b) { return *presentation[a] < *presentation[b]; });
  std::vector<std::int64_t> shownAt(presentation.size());
  for (std::int64_t place = 0; place < count; ++place)
    shownAt[static_cast<std::size_t>(order[static_cast<std::size_t>(place)])] = place;
  const auto place = [&shownAt](std::int64_t packet) { return shownAt[static_cast<std::size_t>(packet)]; };
  // Whether the pictures shown before place p that come after packet d are the packets right after it.
  const auto leadingRightAfter = [&](std::int64_t d, std::int64_t p) {
    for (std::int64_t j = 1; j <= p - d; ++j)
      if (d + j >= count || place(d + j) >= p)
        return false;
    return true;
  };
  // A stream that opens with its first key frame's leading pictures (cut
  // from a longer one in an open GOP): no decoder makes them, the film
  // starts at that key frame.
  const std::int64_t lost = place(0);
  if (!leadingRightAfter(0, lost))
    return cuts;
  cuts = {{0}, (count - lost) / unit, {{0, 0, lost}}, {}};
  // Key packet d shown at place p starts a piece when the d packets before it
  // are all shown before p: the p - d pictures still missing before p are its
  // leading pictures, and they must be the packets right after it.
  std::int64_t latestShown = -1;
  for (std::int64_t d = 0; d < count; ++d) {
    const std::int64_t p = place(d);
    const std::int64_t start = (p - lost) / unit;
    if (d > 0 && (p - lost) % unit == 0 && start < cuts.pictures && key.size() > static_cast<std::size_t>(d) &&
        key[static_cast<std::size_t>(d)] && latestShown < p && leadingRightAfter(d, p)) {
      cuts.starts.push_back(start);
      cuts.keys.push_back({start, d, p - d});
    }
    latestShown = std::max(latestShown, p);
  }
  return cuts;
}

int chooseJobCount(const MachineCapacity &machine, int chunkCount, int requested) {
  int jobs = requested;
  if (jobs <= 0) {
    const auto byMemory =
        static_cast<int>(std::min<std::uint64_t>(machine.availableBytes / bytesPerChunkEncoder, 1 << 20));
    jobs = std::min(machine.cores, byMemory);
  }
  return std::max(1, std::min(jobs, std::max(1, chunkCount)));
}

MachineCapacity thisMachine() {
  MachineCapacity machine;
  machine.cores = static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  std::uint64_t kib = 0;
  std::string unit;
  while (meminfo >> key >> kib >> unit)
    if (key == "MemAvailable:") {
      machine.availableBytes = kib * 1024;
      break;
    }
  return machine;
}

} // namespace kestrova::pipeline
