#pragma once

#include <cstdint>
#include <optional>
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

/// A key frame a chunk of coded pictures may start at.
struct KeyFrameCut {
  std::int64_t start = 0;  ///< the chunk's first picture, as in FilmCuts::starts
  std::int64_t packet = 0; ///< the key frame's packet, counted in decoding order
  /// The packets right after it that are shown before it (an open GOP's
  /// leading pictures): they end the chunk before, which decodes them from
  /// its own pictures and this key frame; the chunk from here leaves them out.
  std::int64_t leading = 0;
  friend bool operator==(const KeyFrameCut &, const KeyFrameCut &) = default;
};

/// Where a film may be cut and how long it is, in the pictures its chunk
/// jobs encode (pairs, for alternate pictures).
struct FilmCuts {
  std::vector<std::int64_t> starts; ///< pictures a chunk may start at, ascending
  std::int64_t pictures = 0;
  /// Where each start is in the coded stream, when the cuts come from its
  /// packets: one per start, in the same order.
  std::vector<KeyFrameCut> keys;
  /// The starts that only edge264 decodes from (an open GOP whose leading
  /// pictures other pictures refer to): a chunk from there needs a machine with edge264-pipe.
  std::vector<std::int64_t> fastDecoderStarts;
  friend bool operator==(const FilmCuts &, const FilmCuts &) = default;
};

/// Where a coded stream can be cut, from its packets in decoding order
/// (`presentation`: each packet's presentation time, nothing where the
/// container gives none; `key`: its key-frame flag): at a key frame after
/// which nothing is decoded that is shown before the pictures decoded ahead
/// of it, but its own leading pictures (an open GOP), which must come right
/// after it. The piece from there, without those, decodes on its own and
/// holds the pictures shown from the key frame on; the piece before,
/// followed by the key frame and its leading pictures, decodes every picture
/// shown up to it. Pictures shown before the first key frame (a stream cut
/// from a longer one in an open GOP) are no part of the film: its first cut
/// leaves them out. Counted in groups of `picturesPerUnit` pictures (2:
/// alternate pictures, a cut only between pairs); a trailing picture outside
/// a whole group is left out. Without every presentation time the stream is
/// one piece.
FilmCuts keyFrameCuts(const std::vector<std::optional<std::int64_t>> &presentation, const std::vector<bool> &key,
                      int picturesPerUnit = 1);

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
