#pragma once

#include "disc/DiscFiles.h"
#include "disc/DiscLocation.h"
#include "disc/Playlist.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrova::disc {

/// One playlist of a disc as the title choice saw it.
struct TitleCandidate {
  int number = 0;
  double duration = 0;
  bool stereo = false;
  friend bool operator==(const TitleCandidate &, const TitleCandidate &) = default;
};

/// What a disc conversion takes from the disc, decided once before any work.
struct DiscTitle {
  /// The disc's name: its volume label, the name in its metadata, else its folder's name.
  std::string name;
  int number = 0; ///< the playlist, e.g. 800 for 00800.mpls
  Playlist playlist;
  /// The 3D playlists considered, longest first (duplicates and short ones left out).
  std::vector<TitleCandidate> candidates;
  /// Why this playlist: the clip the input named, when it did.
  std::optional<std::string> fromClip;
  /// Other 3D playlists as long as this one (within a second) that play
  /// other clips or the same in another order: some discs hide the film's
  /// order among such copies, so the choice may be the wrong one.
  std::vector<int> rivals;
  /// The files that hold the film, relative to the disc root: each play
  /// item's base and dependent view clips, or its SSIF file (both views
  /// interleaved, read by tsMuxeR in their place) where the copy of the disc
  /// lacks one of the two.
  std::vector<std::string> streamFiles;
  /// The clips the copy lacks, read from their SSIF files.
  std::vector<std::string> clipsInSsif;

  /// "BDMV/PLAYLIST/00800.mpls"
  std::string playlistFile() const;
  /// A few lines saying what will be converted: playlist, clips, eyes, tracks, chapters.
  std::string text() const;
  friend bool operator==(const DiscTitle &, const DiscTitle &) = default;
};

/// Picks the playlist among `candidates`: `wanted` when given (it must be a
/// 3D playlist of the disc), else the 3D playlist the input's clip belongs to,
/// else the longest 3D playlist. Throws SourceError naming the longest 2D
/// playlist when the disc has no 3D one.
int chooseTitle(const std::vector<TitleCandidate> &candidates, std::optional<int> wanted);

/// Reads the disc's playlists and decides what to convert. Throws
/// SourceError for a disc that cannot be converted: no BDMV folder, no 3D
/// playlist, a missing clip without its SSIF file, an encrypted disc.
DiscTitle planDiscTitle(const DiscFiles &files, const DiscLocation &location, std::optional<int> wanted);

/// The clip info files of every clip the title plays, relative to the disc root.
std::vector<std::string> titleClipInfoFiles(const DiscTitle &title);

} // namespace kestrova::disc
