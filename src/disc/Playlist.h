#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::disc {

/// One clip a playlist plays, from `inTime` to `outTime` (45 kHz ticks).
struct PlayItem {
  std::string clip; ///< five digits, e.g. "00001"
  std::uint32_t inTime = 0;
  std::uint32_t outTime = 0;
  friend bool operator==(const PlayItem &, const PlayItem &) = default;
};

/// One audio or presentation-graphics stream of a playlist's stream table.
struct PlaylistStream {
  std::uint16_t pid = 0;
  std::uint8_t codingType = 0;
  std::string language; ///< ISO 639-2, "und" when the table has none
  /// For a subtitle stream of a 3D playlist: the offset sequence (3D plane) it uses.
  std::optional<int> offsetSequence;
  friend bool operator==(const PlaylistStream &, const PlaylistStream &) = default;
};

/// What a movie playlist (.mpls) says about the film it plays.
struct Playlist {
  std::vector<PlayItem> items;
  /// The clips of the dependent (MVC) view, in play order.
  std::vector<std::string> dependentClips;
  std::vector<PlaylistStream> audio;
  std::vector<PlaylistStream> subtitles; ///< presentation graphics only
  /// Chapter starts, in seconds from the start of the playlist.
  std::vector<double> chapters;
  /// The playlist plays a dependent (MVC) view: a sub-path of type 8 or a 3D stream table.
  bool stereo = false;
  /// The base view is the right eye.
  bool baseViewIsRight = false;
  /// Video frame rate code of the first video stream (3 = 24000/1001, 4 = 24, ...); 0 unknown.
  int frameRateCode = 0;
  /// Video format code (4 = 1080i, 6 = 1080p, 5 = 720p, ...); 0 unknown.
  int videoFormat = 0;

  /// The playing time of all items, in seconds.
  double duration() const;
  friend bool operator==(const Playlist &, const Playlist &) = default;
};

/// Reads a playlist file's bytes. Throws SourceError when they are not a playlist.
Playlist readPlaylist(std::string_view bytes);

/// A video format code's picture size; nothing for an unknown code.
std::optional<std::pair<int, int>> videoFormatSize(int format);

/// A frame rate code's numerator and denominator; nothing for an unknown code.
std::optional<std::pair<int, int>> frameRateOfCode(int code);

} // namespace kestrova::disc
