#pragma once

#include "tools/ToolLocator.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrova::analysis {

/// One audio or subtitle stream of a media file: its absolute stream index
/// (as ffmpeg counts them) and its language ("und" when untagged).
struct MediaTrack {
  std::int64_t stream = 0;
  std::string language = "und";
  std::string codec;
  bool forced = false; ///< marked as the subtitles to show when none is chosen
  friend bool operator==(const MediaTrack &, const MediaTrack &) = default;
};

/// One chapter, in seconds.
struct Chapter {
  double start = 0;
  double end = 0;
  std::string title;
  friend bool operator==(const Chapter &, const Chapter &) = default;
};

/// The tracks a conversion carries over besides the picture.
struct MediaTracks {
  std::vector<MediaTrack> audio;
  std::vector<MediaTrack> subtitles;
  std::vector<Chapter> chapters;
  friend bool operator==(const MediaTracks &, const MediaTracks &) = default;
};

/// Reads the audio and subtitle streams and chapters of ffprobe's JSON
/// report (-show_streams -show_chapters); nothing of a report that is not JSON.
MediaTracks readMediaTracks(const std::string &report);

/// Runs `ffprobe` on `file`; nothing when it cannot read it.
MediaTracks probeMediaTracks(const std::filesystem::path &ffprobe, const std::filesystem::path &file);

/// Chapters that have no title are named "Chapter N" (N counted from 1).
std::vector<Chapter> namedChapters(std::vector<Chapter> chapters);

/// The chapter list of the MV-HEVC converter: one line per chapter, its start
/// in seconds, a TAB, its title.
std::string chapterListText(const std::vector<Chapter> &chapters);

/// The chapters as an ffmpeg metadata file (millisecond time base).
std::string ffmetadataText(const std::vector<Chapter> &chapters);

} // namespace kestrova::analysis
