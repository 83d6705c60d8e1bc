#pragma once

#include "core/Records.h"
#include "nal/OffsetMetadata.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::pipeline {

/// One subtitle track of a source, as the burn-in choice sees it.
struct SubtitleTrack {
  std::string language = "und";
  /// A Blu-ray PG (bitmap) track, the only kind that can be burned in.
  bool graphics = true;
  bool forced = false;
  /// The offset sequence a disc's playlist gives the track.
  std::optional<int> plane;
  friend bool operator==(const SubtitleTrack &, const SubtitleTrack &) = default;
};

/// Which track to burn in and which offset sequence places it.
struct SubtitleChoice {
  /// Index into the source's subtitle tracks; none: nothing is burned in.
  std::optional<std::size_t> track;
  /// The offset sequence the track follows; none: the fixed depth.
  std::optional<int> plane;
  /// What the log should say about the choice, one line each.
  std::vector<std::string> notes;
  friend bool operator==(const SubtitleChoice &, const SubtitleChoice &) = default;
};

/// "1 eng, 2 fra (forced)", or "none" for no track.
std::string subtitleTrackList(const std::vector<SubtitleTrack> &tracks);

/// Decides the track `request` names among `tracks` and its plane: from a
/// disc (`fromDisc`) the plane its playlist gives, from a lone file the i-th
/// PG track's plane i (with a warning), the request's plane over either.
/// A source without subtitle tracks, or a track that is no PG track, gives
/// no track and a note. Throws SourceError naming the tracks there are when
/// `request.track` names a language or number the source does not have.
SubtitleChoice chooseSubtitles(const std::vector<SubtitleTrack> &tracks, bool fromDisc, const SubtitleRequest &request);

/// Whether `metadata` (read from the source's MVC view) can place subtitles
/// on offset sequence `plane`: the plane when it can, else none and a note
/// saying why the fixed depth `fixedDepth` is used (no table, a defect, a
/// table shorter than its GOP, a sequence the tables lack). No plane asked
/// for gives none and no note: the choice has said why.
struct DepthPlacement {
  std::optional<int> plane;
  std::string note;
};
DepthPlacement placeDepth(std::optional<int> plane, const nal::OffsetMetadata &metadata, int fixedDepth);

} // namespace kestrova::pipeline
