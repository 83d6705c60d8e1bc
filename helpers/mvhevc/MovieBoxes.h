#pragma once

#include "BoxWriter.h"
#include "Chapters.h"
#include "MovWriter.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace kestrova::mvhevc {

/// One sound track's tables; the pointed-to tables outlive the movie box's making.
struct SoundTrackDescription {
  const AudioInfo *audio = nullptr;
  const std::vector<std::uint32_t> *sizes = nullptr;
  const std::vector<std::uint64_t> *offsets = nullptr;
  const std::vector<std::uint32_t> *durations = nullptr;
  std::int64_t priming = 0; ///< leading samples not played (encoder delay)
};

/// Everything the movie box describes; the pointed-to tables outlive the call.
struct MovieDescription {
  const VideoTrackSetup *video = nullptr;
  const std::vector<VideoSampleInfo> *videoSamples = nullptr;
  const std::vector<std::uint32_t> *videoSizes = nullptr;
  const std::vector<std::uint64_t> *videoOffsets = nullptr;
  /// In movie order: the first is the one played, the others its alternates.
  std::vector<SoundTrackDescription> sound;
  /// Chapter marks within the movie, one text sample each; empty: no chapter track.
  const std::vector<Chapter> *chapters = nullptr;
  const std::vector<std::uint32_t> *chapterSizes = nullptr;
  const std::vector<std::uint64_t> *chapterOffsets = nullptr;
};

/// The `moov` box of the movie.
std::vector<std::uint8_t> movieBox(const MovieDescription &movie);

/// Composition offsets of samples in decoding order, in sample deltas: display index minus
/// decoding index (negative for B-frames shown before pictures decoded earlier).
std::vector<std::int64_t> compositionOffsets(const std::vector<VideoSampleInfo> &samples);

} // namespace kestrova::mvhevc
