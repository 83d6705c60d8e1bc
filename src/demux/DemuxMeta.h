#pragma once

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

/// A stream of a disc playlist demuxed beside the two views: its PID and
/// tsMuxeR's codec name ("A_AC3", "A_DTS", "A_LPCM", "S_HDMV/PGS").
struct ExtraTrack {
  std::int64_t pid = 0;
  std::string codec;
  friend bool operator==(const ExtraTrack &, const ExtraTrack &) = default;
};

/// The meta text naming the two views of a disc playlist and `extra` tracks.
std::string playlistMeta(const std::filesystem::path &playlist, const SeparateTracks &tracks,
                         const std::vector<ExtraTrack> &extra, std::optional<std::int64_t> durationLimit);

/// tsMuxeR's codec name for a Blu-ray stream coding type; empty for one it cannot demux.
std::string codecOfCodingType(int codingType);

/// Reads track and sub-track numbers from tsMuxeR's information report.
SubTracks parseInformationReport(const std::string &report);

/// Reads the track numbers of the first H.264 and the first MVC stream from
/// tsMuxeR's information report on a transport stream.
SeparateTracks parseSeparateTracks(const std::string &report);

} // namespace kestrova::demux
