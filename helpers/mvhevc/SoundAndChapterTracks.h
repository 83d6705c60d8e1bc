#pragma once

#include "MovieBoxes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrova::mvhevc {

/// A sound track's length.
struct SoundTiming {
  std::uint64_t media = 0; ///< in the track's samples, priming included
  std::uint64_t movie = 0; ///< what is played, in movie time
};

/// The length of the sound track `s` in a movie of `movieTimescale`.
SoundTiming soundTiming(const SoundTrackDescription &s, std::uint32_t movieTimescale);

/// The `trak` of an AAC sound track: in the sound group, `enabled` for the one a player starts
/// with, its language in `mdhd` and `elng`.
void soundTrack(BoxWriter &b, const SoundTrackDescription &s, std::uint32_t id, bool enabled,
                const SoundTiming &timing);

/// The `trak` of the QuickTime chapter track: a disabled text track of the movie's chapters, each
/// lasting to the next or to `movieDuration`, the first from the start.
void chapterTrack(BoxWriter &b, const MovieDescription &m, std::uint32_t id, std::uint64_t movieDuration);

/// One chapter's text sample: the title's length and UTF-8 bytes, then its encoding.
std::vector<std::uint8_t> chapterSample(const std::string &title);

} // namespace kestrova::mvhevc
