#include "demux/DemuxMeta.h"

#include <charconv>
#include <fmt/format.h>

namespace kestrova::demux {

namespace {

std::string trimBlanks(std::string_view text) {
  auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos)
    return {};
  auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

std::string afterLastColon(const std::string &line) {
  return trimBlanks(line.substr(line.rfind(':') + 1));
}

std::int64_t parseNumber(const std::string &text) {
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

} // namespace

std::string cutOption(std::optional<std::int64_t> durationLimit) {
  return durationLimit ? fmt::format(" --cut-end={}s", *durationLimit) : std::string();
}

std::string separateTrackMeta(const std::filesystem::path &source, const SeparateTracks &tracks,
                              std::optional<std::int64_t> durationLimit) {
  const std::string path = source.string();
  return "MUXOPT --no-pcr-on-video-pid --new-audio-pes --demux --vbr --vbv-len=500" + cutOption(durationLimit) + "\n" +
         fmt::format("V_MPEG4/ISO/AVC, \"{}\", track={}\n", path, tracks.avcTrack) +
         fmt::format("V_MPEG4/ISO/MVC, \"{}\", track={}\n", path, tracks.mvcTrack);
}

std::string playlistMeta(const std::filesystem::path &playlist, const SeparateTracks &tracks,
                         const std::vector<ExtraTrack> &extra, std::optional<std::int64_t> durationLimit) {
  std::string meta = separateTrackMeta(playlist, tracks, durationLimit);
  for (const auto &track : extra)
    meta += fmt::format("{}, \"{}\", track={}\n", track.codec, playlist.string(), track.pid);
  return meta;
}

std::string codecOfCodingType(int codingType) {
  switch (codingType) {
  case 0x80:
    return "A_LPCM";
  case 0x81:
  case 0x83: // TrueHD, carried with its AC3 core
  case 0x84:
  case 0xA1:
    return "A_AC3";
  case 0x82:
  case 0x85:
  case 0x86:
  case 0xA2:
    return "A_DTS";
  case 0x90:
    return "S_HDMV/PGS";
  default:
    return {};
  }
}

std::string singleTrackMeta(const std::filesystem::path &source, const SubTracks &sub,
                            std::optional<std::int64_t> durationLimit) {
  const std::string path = source.string();
  return "MUXOPT --demux" + cutOption(durationLimit) + "\n" +
         fmt::format("V_MPEG4/ISO/AVC, \"{}\", track={}, subTrack={}\n", path, sub.avcTrack, sub.avcSubTrack) +
         fmt::format("V_MPEG4/ISO/MVC, \"{}\", track={}, subTrack={}\n", path, sub.mvcTrack, sub.mvcSubTrack);
}

namespace {

// Calls `onLine(line)` for every line of `report`, trimmed of blanks and tabs.
template <typename OnLine> void forEachLine(const std::string &report, OnLine onLine) {
  std::size_t start = 0;
  while (start <= report.size()) {
    std::size_t end = report.find('\n', start);
    onLine(
        trimBlanks(std::string_view(report).substr(start, end == std::string::npos ? std::string::npos : end - start)));
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
}

} // namespace

SubTracks parseInformationReport(const std::string &report) {
  SubTracks result;
  std::int64_t track = 0;
  std::string streamType;
  forEachLine(report, [&](const std::string &line) {
    if (line.starts_with("Track ID:")) {
      track = parseNumber(afterLastColon(line));
    } else if (line.starts_with("Stream type:")) {
      streamType = afterLastColon(line);
    } else if (line.starts_with("subTrack:")) {
      std::int64_t subTrack = parseNumber(afterLastColon(line));
      if (streamType == "MVC") {
        result.mvcTrack = track;
        result.mvcSubTrack = subTrack;
      } else if (streamType == "H.264") {
        result.avcTrack = track;
        result.avcSubTrack = subTrack;
      }
    }
  });
  return result;
}

SeparateTracks parseSeparateTracks(const std::string &report) {
  SeparateTracks result;
  bool haveAvc = false, haveMvc = false;
  std::int64_t track = 0;
  forEachLine(report, [&](const std::string &line) {
    if (line.starts_with("Track ID:")) {
      track = parseNumber(afterLastColon(line));
    } else if (line.starts_with("Stream type:") && track > 0) {
      // A second picture stream (a picture-in-picture track) is not a view.
      const std::string type = afterLastColon(line);
      if (type == "H.264" && !haveAvc) {
        result.avcTrack = track;
        haveAvc = true;
      } else if (type == "MVC" && !haveMvc) {
        result.mvcTrack = track;
        haveMvc = true;
      }
      track = 0;
    }
  });
  return result;
}

} // namespace kestrova::demux
