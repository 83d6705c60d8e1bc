#include "pipeline/SubtitleChoice.h"

#include "core/Errors.h"

#include <algorithm>
#include <fmt/format.h>

namespace kestrova::pipeline {

namespace {

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return text;
}

std::optional<std::size_t> trackNumber(const std::string &text) {
  if (text.empty() || text.size() > 4 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  return static_cast<std::size_t>(std::stoi(text));
}

// The track the request names, or none for "none" and for no forced track.
std::optional<std::size_t> namedTrack(const std::vector<SubtitleTrack> &tracks, const std::string &wanted) {
  if (wanted.empty()) {
    const auto forced = std::find_if(tracks.begin(), tracks.end(), [](const auto &t) { return t.forced; });
    if (forced == tracks.end())
      return std::nullopt;
    return static_cast<std::size_t>(forced - tracks.begin());
  }
  if (wanted == "none")
    return std::nullopt;
  if (auto number = trackNumber(wanted)) {
    if (*number >= 1 && *number <= tracks.size())
      return *number - 1;
  } else {
    const auto match =
        std::find_if(tracks.begin(), tracks.end(), [&](const auto &t) { return lowercase(t.language) == wanted; });
    if (match != tracks.end())
      return static_cast<std::size_t>(match - tracks.begin());
  }
  throw SourceError(fmt::format("--subtitles {}: the source has no such subtitle track; its tracks are {}", wanted,
                                subtitleTrackList(tracks)));
}

} // namespace

std::string subtitleTrackList(const std::vector<SubtitleTrack> &tracks) {
  std::string text;
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    text += fmt::format("{}{} {}", i == 0 ? "" : ", ", i + 1, tracks[i].language);
    if (tracks[i].forced)
      text += " (forced)";
    if (!tracks[i].graphics)
      text += " (text, cannot be burned in)";
  }
  return text.empty() ? "none" : text;
}

SubtitleChoice chooseSubtitles(const std::vector<SubtitleTrack> &tracks, bool fromDisc,
                               const SubtitleRequest &request) {
  SubtitleChoice choice;
  const std::string wanted = lowercase(request.track);
  if (tracks.empty()) {
    if (!wanted.empty() && wanted != "none")
      choice.notes.push_back(
          fmt::format("\u26a0\ufe0f --subtitles {}: the source has no subtitle track; nothing is burned in", wanted));
    return choice;
  }
  const auto index = namedTrack(tracks, wanted);
  if (!index)
    return choice;
  const SubtitleTrack &track = tracks[*index];
  if (!track.graphics) {
    choice.notes.push_back(fmt::format("\u26a0\ufe0f Subtitle track {} ({}) is text, not Blu-ray graphics; only "
                                       "graphics tracks can be burned in, so none is",
                                       *index + 1, track.language));
    return choice;
  }
  choice.track = index;
  const std::string name = fmt::format("Subtitle track {} ({})", *index + 1, track.language);
  if (request.plane) {
    choice.plane = request.plane;
    choice.notes.push_back(fmt::format("{} burned in, following offset sequence {} as asked", name, *request.plane));
  } else if (fromDisc && track.plane) {
    choice.plane = track.plane;
    choice.notes.push_back(
        fmt::format("{} burned in, following offset sequence {} as the playlist says", name, *track.plane));
  } else if (fromDisc) {
    choice.notes.push_back(fmt::format("{} burned in; the playlist gives it no 3D plane, so it stays {} px in front "
                                       "of the screen",
                                       name, request.fixedDepth));
  } else {
    const auto graphicsBefore = std::count_if(tracks.begin(), tracks.begin() + static_cast<std::ptrdiff_t>(*index),
                                              [](const auto &t) { return t.graphics; });
    choice.plane = static_cast<int>(graphicsBefore);
    choice.notes.push_back(fmt::format("\u26a0\ufe0f {} burned in, following offset sequence {}: a lone file does not "
                                       "say which sequence a track follows, so the n-th graphics track takes "
                                       "sequence n-1 (--subtitle-plane names another)",
                                       name, *choice.plane));
  }
  return choice;
}

DepthPlacement placeDepth(std::optional<int> plane, const nal::OffsetMetadata &metadata, int fixedDepth) {
  const auto fixed = [fixedDepth](const std::string &why) {
    return DepthPlacement{std::nullopt, fmt::format("\u26a0\ufe0f {}; the subtitles stay {} px (of 1920) in front "
                                                    "of the screen",
                                                    why, fixedDepth)};
  };
  if (!plane)
    return {};
  if (metadata.tables.empty())
    return fixed("the source's 3D view carries no subtitle depth (offset metadata)");
  if (!metadata.defects.empty())
    return fixed(fmt::format("the subtitle depth is damaged ({} at byte {})", metadata.defects.front().what,
                             metadata.defects.front().position));
  for (const auto &table : metadata.tables)
    if (table.pictures != 0 && table.frames < table.pictures)
      return fixed(fmt::format("the subtitle depth table at byte {} covers {} of the {} pictures of its GOP",
                               table.position, table.frames, table.pictures));
  if (*plane < 0 || static_cast<std::size_t>(*plane) >= metadata.sequenceCount())
    return fixed(fmt::format("offset sequence {} is not in the source's depth tables, which hold {}", *plane,
                             metadata.sequenceCount()));
  return {plane, fmt::format("Subtitle depth: offset sequence {} of {} in {} tables", *plane, metadata.sequenceCount(),
                             metadata.tables.size())};
}

} // namespace kestrova::pipeline
