#pragma once

#include "BoxWriter.h"

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrova::mvhevc {

// tkhd flags
constexpr std::uint32_t kEnabled = 1;
constexpr std::uint32_t kInMovie = 2;
/// The alternate group of the sound tracks: a player plays one of them.
constexpr std::uint32_t kSoundGroup = 1;

/// What a track header says.
struct TrackHeader {
  std::uint32_t id = 0;
  std::uint64_t duration = 0; ///< in movie time
  std::uint32_t flags = kEnabled | kInMovie;
  bool audio = false; ///< in the sound group, at full volume
  int width = 0;
  int height = 0;
};

/// Now, as QuickTime counts: seconds from 1904-01-01.
std::uint32_t macTime();
/// `tkhd`.
void trackHeader(BoxWriter &b, const TrackHeader &t);
/// `edts` with one edit: `duration` in movie time, `mediaTime` in the track's own: where presentation starts.
void editList(BoxWriter &b, std::uint64_t duration, std::uint32_t mediaTime);
/// `mdhd` with the ISO 639-2/T `language`.
void mediaHeader(BoxWriter &b, std::uint32_t timescale, std::uint64_t duration, std::string_view language = "und");
/// `elng`: the language as a BCP 47 tag too, which newer players prefer; nothing for "und".
void extendedLanguage(BoxWriter &b, std::string_view language);
/// `hdlr` of a media of `type` (vide, soun, text).
void handler(BoxWriter &b, std::string_view type, std::string_view name);
/// `dinf`: the media is in this file.
void dataInformation(BoxWriter &b);
/// `stsc`, `stsz` and `stco`/`co64` for one sample per chunk.
void chunkTables(BoxWriter &b, const std::vector<std::uint32_t> &sizes, const std::vector<std::uint64_t> &offsets);
/// `stts` of the samples' durations.
void timeToSample(BoxWriter &b, const std::vector<std::int64_t> &durations);

/// Run-length (count, value) pairs, the form of the time-to-sample and offset tables.
std::vector<std::pair<std::uint32_t, std::int64_t>> runLengths(const std::vector<std::int64_t> &values);

} // namespace kestrova::mvhevc
