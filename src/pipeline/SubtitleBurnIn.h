#pragma once

#include "core/Records.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::pipeline {

/// A PG subtitle track to burn into both eyes at the disc's depth.
struct SubtitleBurnIn {
  std::filesystem::path track;            ///< the demuxed PG track (.sup)
  std::filesystem::path offsets;          ///< the demuxed MVC view with the offset tables; empty: none
  std::optional<int> plane;               ///< the offset sequence the track follows; none: sequence 0
  int fixedDepth = kDefaultSubtitleDepth; ///< pixels of 1920 in front of the screen when there is no usable depth
};

/// What the subtitle options give yuv_hstack and MVHEVCConverter alike, for
/// pictures that begin at the film's display frame `firstFrame` (a chunk's).
std::vector<std::string> burnInArguments(const SubtitleBurnIn &burnIn, std::int64_t firstFrame = 0);

/// yuv_hstack's arguments after WIDTH HEIGHT [swap] for `burnIn` on pairs at
/// `frameRateNum`/`frameRateDen` that begin at the film's display frame
/// `firstFrame`; none without a burn-in, so the stacker runs as before.
std::vector<std::string> stackerBurnInArguments(const std::optional<SubtitleBurnIn> &burnIn, std::int64_t frameRateNum,
                                                std::int64_t frameRateDen, std::int64_t firstFrame = 0);

} // namespace kestrova::pipeline
