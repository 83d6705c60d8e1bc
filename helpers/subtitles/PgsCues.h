#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace kestrova::subtitles {

/// A PG track that cannot be read or decoded.
class SubtitleError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// One picture of a cue in the PG canvas's coordinates, each pixel as video
/// Y, Cb, Cr and an opacity (0 transparent .. 255 opaque).
struct SubtitleBitmap {
  int x = 0, y = 0, width = 0, height = 0;
  std::vector<std::uint8_t> luma, cb, cr, alpha; ///< width x height each, row by row
};

/// What the track shows from `start` (inclusive) to `end` (exclusive), in
/// 90 kHz ticks of the track's own timeline.
struct SubtitleCue {
  std::int64_t start = 0;
  std::int64_t end = 0;
  std::vector<SubtitleBitmap> bitmaps;
};

/// Every cue of the PG (.sup) file `path` in time order, decoded with
/// libavcodec's PGS decoder. A cue lasts until the next display set (an
/// empty one clears the screen); a cue still showing at the end of the file
/// lasts `lastCueTicks`. Throws SubtitleError when the file cannot be opened
/// or decoded.
std::vector<SubtitleCue> readPgsCues(const std::filesystem::path &path, std::int64_t lastCueTicks = 5 * 90000);

} // namespace kestrova::subtitles
