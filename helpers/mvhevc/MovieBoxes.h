#pragma once

#include "BoxWriter.h"
#include "MovWriter.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace kestrova::mvhevc {

/// Everything the movie box describes; the pointed-to tables outlive the call.
struct MovieDescription {
  const VideoTrackSetup *video = nullptr;
  const std::vector<VideoSampleInfo> *videoSamples = nullptr;
  const std::vector<std::uint32_t> *videoSizes = nullptr;
  const std::vector<std::uint64_t> *videoOffsets = nullptr;
  const AudioInfo *audio = nullptr; ///< null: no sound track
  const std::vector<std::uint32_t> *audioSizes = nullptr;
  const std::vector<std::uint64_t> *audioOffsets = nullptr;
  const std::vector<std::uint32_t> *audioDurations = nullptr;
  std::int64_t audioPriming = 0; ///< leading samples not played (encoder delay)
};

/// The `moov` box of the movie.
std::vector<std::uint8_t> movieBox(const MovieDescription &movie);

/// Composition offsets of samples in decoding order, in sample deltas: display index minus
/// decoding index (negative for B-frames shown before pictures decoded earlier).
std::vector<std::int64_t> compositionOffsets(const std::vector<VideoSampleInfo> &samples);

/// Run-length (count, value) pairs, the form of the time-to-sample and offset tables.
std::vector<std::pair<std::uint32_t, std::int64_t>> runLengths(const std::vector<std::int64_t> &values);

} // namespace kestrova::mvhevc
