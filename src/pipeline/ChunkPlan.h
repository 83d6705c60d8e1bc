#pragma once

#include <cstdint>
#include <vector>

namespace kestrova::pipeline {

/// One chunk of a film: the pictures [firstFrame, firstFrame + frameCount) in
/// display order, beginning at an IDR access unit of both views.
struct ChunkSpan {
  int index = 0;
  std::int64_t firstFrame = 0;
  std::int64_t frameCount = 0;
  friend bool operator==(const ChunkSpan &, const ChunkSpan &) = default;
};

/// Cuts a film of `totalFrames` pictures into chunks of about `chunkSeconds`
/// at the given IDR frame numbers (ascending, any order tolerated, frame 0 is
/// always a cut). A chunk ends at the first IDR at or past its target length,
/// so a chunk is never shorter than the target except the last; a remainder
/// shorter than half the target joins the chunk before it. Without any IDR
/// inside the film the whole film is one chunk. Throws std::invalid_argument
/// for a frame rate or chunk length that is not positive.
std::vector<ChunkSpan> planChunks(const std::vector<std::int64_t> &idrFrames, std::int64_t totalFrames,
                                  double framesPerSecond, double chunkSeconds = 60.0);

/// What the machine offers to chunk jobs.
struct MachineCapacity {
  int cores = 1;
  std::uint64_t availableBytes = 0; ///< free memory the jobs may take
};

/// Memory one two-view 1080p encoder needs.
inline constexpr std::uint64_t bytesPerChunkEncoder = 644245094ULL; // 0.6 GiB

/// Chunk jobs to run at once: `requested` when positive, otherwise as many as
/// there are cores and as the free memory holds encoders, at least one, and
/// never more than there are chunks.
int chooseJobCount(const MachineCapacity &machine, int chunkCount, int requested = 0);

/// The capacity of this machine (online cores, MemAvailable of /proc/meminfo).
MachineCapacity thisMachine();

} // namespace kestrova::pipeline
