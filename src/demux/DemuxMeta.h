#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

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

/// Track numbers (the transport stream's PIDs) of the two views of a disc
/// stream, as the information report gives them; a disc's usual PIDs stand
/// when it does not.
struct SeparateTracks {
  std::int64_t avcTrack = 4113;
  std::int64_t mvcTrack = 4114;
  friend bool operator==(const SeparateTracks &, const SeparateTracks &) = default;
};

/// " --cut-end=Ns" for a duration limit, else empty.
std::string cutOption(std::optional<std::int64_t> durationLimit);

/// The meta text naming the two views of a disc stream by track number.
/// Every line ends in LF.
std::string separateTrackMeta(const std::filesystem::path &source, const SeparateTracks &tracks,
                              std::optional<std::int64_t> durationLimit);

/// The meta text naming both views as sub-tracks of one container track.
std::string singleTrackMeta(const std::filesystem::path &source, const SubTracks &subTracks,
                            std::optional<std::int64_t> durationLimit);

/// Reads track and sub-track numbers from tsMuxeR's information report.
SubTracks parseInformationReport(const std::string &report);

/// Reads the track numbers of the first H.264 and the first MVC stream from
/// tsMuxeR's information report on a transport stream.
SeparateTracks parseSeparateTracks(const std::string &report);

} // namespace kestrova::demux
