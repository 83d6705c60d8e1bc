#include "demux/DemuxMeta.h"

#include <algorithm>
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

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return text;
}

} // namespace

std::string cutOption(std::optional<std::int64_t> durationLimit) {
  return durationLimit ? fmt::format(" --cut-end={}s", *durationLimit) : std::string();
}

std::string separateTrackMeta(const std::filesystem::path &source, const std::vector<DetectedTrack> &tracks,
                              std::optional<std::int64_t> durationLimit) {
  std::string meta =
      "MUXOPT --no-pcr-on-video-pid --new-audio-pes --demux --vbr --vbv-len=500" + cutOption(durationLimit) + "\n";
  const std::string path = source.string();
  if (tracks.empty()) {
    meta += fmt::format("V_MPEG4/ISO/AVC, \"{}\", track=4113\n", path);
    meta += fmt::format("V_MPEG4/ISO/MVC, \"{}\", track=4114\n", path);
    return meta;
  }
  for (const auto &track : tracks) {
    std::string codec = lower(track.codec);
    if (codec != "h264" && codec != "avc")
      continue;
    meta += fmt::format("V_MPEG4/ISO/{}, \"{}\", track={}\n", track.isMVC ? "MVC" : "AVC", path, track.trackId);
  }
  return meta;
}

std::string singleTrackMeta(const std::filesystem::path &source, const SubTracks &sub,
                            std::optional<std::int64_t> durationLimit) {
  const std::string path = source.string();
  return "MUXOPT --demux" + cutOption(durationLimit) + "\n" +
         fmt::format("V_MPEG4/ISO/AVC, \"{}\", track={}, subTrack={}\n", path, sub.avcTrack, sub.avcSubTrack) +
         fmt::format("V_MPEG4/ISO/MVC, \"{}\", track={}, subTrack={}\n", path, sub.mvcTrack, sub.mvcSubTrack);
}

SubTracks parseInformationReport(const std::string &report) {
  SubTracks result;
  std::int64_t track = 0;
  std::string streamType;
  std::size_t start = 0;
  while (start <= report.size()) {
    std::size_t end = report.find('\n', start);
    std::string line =
        trimBlanks(std::string_view(report).substr(start, end == std::string::npos ? std::string::npos : end - start));
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
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return result;
}

} // namespace kestrova::demux
