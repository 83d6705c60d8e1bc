#pragma once

#include "core/Records.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::demux {

/// Sub-track numbers of the two views of a combined AVC+MVC track, as the
/// information report gives them; the defaults stand when it does not.
struct SubTracks {
  std::int64_t avcTrack = 1;
  std::int64_t avcSubTrack = 2;
  std::int64_t mvcTrack = 1;
  std::int64_t mvcSubTrack = 1;
  friend bool operator==(const SubTracks &, const SubTracks &) = default;
};

/// " --cut-end=Ns" for a duration limit, else empty.
std::string cutOption(std::optional<std::int64_t> durationLimit);

/// The meta text naming the tracks of a disc stream by track number
/// (fixed 4113/4114 lines when the listing is empty). Every line ends in LF.
std::string separateTrackMeta(const std::filesystem::path &source, const std::vector<DetectedTrack> &tracks,
                              std::optional<std::int64_t> durationLimit);

/// The meta text naming both views as sub-tracks of one container track.
std::string singleTrackMeta(const std::filesystem::path &source, const SubTracks &subTracks,
                            std::optional<std::int64_t> durationLimit);

/// Reads track and sub-track numbers from tsMuxeR's information report.
SubTracks parseInformationReport(const std::string &report);

} // namespace kestrova::demux
