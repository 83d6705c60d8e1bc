#include "disc/DiscTitle.h"

#include "core/Errors.h"
#include "core/Records.h"

#include <algorithm>
#include <cmath>
#include <fmt/format.h>
#include <libbluray/bluray.h>
#include <libbluray/meta_data.h>
#include <map>
#include <memory>

namespace kestrova::disc {

namespace {

std::string playlistName(int number) {
  return fmt::format("{:05}.mpls", number);
}

std::optional<int> playlistNumber(const std::string &file) {
  if (file.size() != 10 || (file.substr(5) != ".mpls" && file.substr(5) != ".MPLS"))
    return std::nullopt;
  if (!std::all_of(file.begin(), file.begin() + 5, [](unsigned char c) { return std::isdigit(c); }))
    return std::nullopt;
  return std::stoi(file.substr(0, 5));
}

// A decrypted clip is a BDAV transport stream: a sync byte after each
// 4-byte header of every 192-byte packet. An AACS-encrypted one keeps only the
// first 16 bytes of each 6144-byte unit in the clear.
bool readableTransportStream(const std::string &bytes) {
  if (bytes.size() < 192 * 2)
    return false;
  for (std::size_t at = 4; at < bytes.size(); at += 192)
    if (bytes[at] != 0x47)
      return false;
  return true;
}

// The name in the disc's own metadata (BDMV/META/DL), as libbluray reads it.
std::string metadataName(const std::filesystem::path &container) {
  std::unique_ptr<BLURAY, decltype(&bd_close)> disc(bd_open(container.c_str(), nullptr), &bd_close);
  if (!disc)
    return {};
  const meta_dl *meta = bd_get_meta(disc.get());
  return meta && meta->di_name ? std::string(meta->di_name) : std::string();
}

// A disc image cut short by a copy or download that stopped part way lacks
// the end of `file`: named as such, not as a damaged or missing file.
void requireWhole(const DiscFiles &files, const std::string &file, const DiscLocation &location) {
  if (const std::uint64_t past = files.bytesPastEnd(file); past > 0)
    throw SourceError(fmt::format("\"{}\" is cut short: it ends {} bytes before its file {} does, as a copy or "
                                  "download that stopped part way leaves it. Copy the disc image again",
                                  location.container.string(), past, file));
}

// Every playlist of the disc that can be read: a damaged one is not a
// candidate, the others still are.
std::map<int, Playlist> readPlaylists(const DiscFiles &files, const DiscLocation &location) {
  std::map<int, Playlist> playlists;
  for (const auto &file : files.list("BDMV/PLAYLIST")) {
    auto number = playlistNumber(file);
    if (number)
      requireWhole(files, "BDMV/PLAYLIST/" + file, location);
    auto bytes = number ? files.read("BDMV/PLAYLIST/" + file, 1 << 20) : std::nullopt;
    if (!bytes)
      continue;
    try {
      playlists.emplace(*number, readPlaylist(*bytes));
    } catch (const SourceError &) {
      // left out
    }
  }
  return playlists;
}

// The longest 3D playlist that plays `clip`, as either view.
std::optional<int> longestPlaying(const std::map<int, Playlist> &playlists, const std::string &clip) {
  std::optional<int> chosen;
  for (const auto &[number, playlist] : playlists) {
    const bool plays =
        std::any_of(playlist.items.begin(), playlist.items.end(), [&](const auto &i) { return i.clip == clip; }) ||
        std::find(playlist.dependentClips.begin(), playlist.dependentClips.end(), clip) !=
            playlist.dependentClips.end();
    if (playlist.stereo && plays && (!chosen || playlist.duration() > playlists.at(*chosen).duration()))
      chosen = number;
  }
  return chosen;
}

// Candidates worth listing, longest first: 3D, not a copy of a longer one's clips, not a short extra.
std::vector<TitleCandidate> listedCandidates(std::vector<TitleCandidate> all,
                                             const std::map<int, Playlist> &playlists) {
  std::stable_sort(all.begin(), all.end(), [](const auto &a, const auto &b) { return a.duration > b.duration; });
  std::vector<TitleCandidate> listed;
  std::vector<std::vector<PlayItem>> seen;
  for (const auto &candidate : all) {
    const auto &items = playlists.at(candidate.number).items;
    if (!candidate.stereo || candidate.duration < all.front().duration * 0.2 ||
        std::find(seen.begin(), seen.end(), items) != seen.end())
      continue;
    seen.push_back(items);
    listed.push_back(candidate);
  }
  return listed;
}

std::string clipFile(const std::string &clip) {
  return "BDMV/STREAM/" + clip + ".m2ts";
}

// Where each play item's views are: its two clips, or its SSIF file when the
// copy lacks one of them (as tsMuxeR reads a 3D playlist).
void findStreamFiles(const DiscFiles &files, DiscTitle &title, const DiscLocation &location) {
  const Playlist &playlist = title.playlist;
  auto add = [&title](const std::string &file) {
    if (std::find(title.streamFiles.begin(), title.streamFiles.end(), file) == title.streamFiles.end())
      title.streamFiles.push_back(file);
  };
  for (std::size_t i = 0; i < playlist.items.size(); ++i) {
    std::vector<std::string> clips{playlist.items[i].clip};
    if (i < playlist.dependentClips.size())
      clips.push_back(playlist.dependentClips[i]);
    const auto missing =
        std::find_if(clips.begin(), clips.end(), [&](const auto &c) { return !files.size(clipFile(c)); });
    if (missing == clips.end()) {
      for (const auto &clip : clips)
        add(clipFile(clip));
      continue;
    }
    const std::string ssif = "BDMV/STREAM/SSIF/" + playlist.items[i].clip + ".ssif";
    if (!playlist.stereo || !files.size(ssif))
      throw SourceError(fmt::format("the playlist {} plays the clip {}, which is missing from \"{}\"{}",
                                    playlistName(title.number), clipFile(*missing), location.container.string(),
                                    playlist.stereo ? fmt::format(" (and so is {}, which would hold it)", ssif) : ""));
    for (const auto &clip : clips)
      if (!files.size(clipFile(clip)))
        title.clipsInSsif.push_back(clip);
    add(ssif);
  }
}

// The bytes a clip's information file gives its stream file: 192 for each
// source packet. Nothing when it has no such file or one that is not a clip
// information file.
std::optional<std::uint64_t> declaredClipBytes(const DiscFiles &files, const std::string &clip) {
  // The clip information begins at byte 40, after the file's type and the
  // addresses of its parts; its packet count at byte 16 of it.
  constexpr std::size_t kPacketsAt = 40 + 16;
  const auto head = files.read("BDMV/CLIPINF/" + clip + ".clpi", kPacketsAt + 4);
  if (!head || head->size() < kPacketsAt + 4 || !head->starts_with("HDMV"))
    return std::nullopt;
  std::uint64_t packets = 0;
  for (std::size_t at = kPacketsAt; at < kPacketsAt + 4; ++at)
    packets = packets << 8 | static_cast<unsigned char>((*head)[at]);
  return packets > 0 ? std::optional(packets * 192) : std::nullopt;
}

SourceError cutShortClip(const std::string &file, const DiscLocation &location, std::uint64_t held,
                         std::uint64_t declared) {
  // FAT32 holds no file of 4 GiB or more; a copy onto it stops there.
  const bool fat32 = held >= (std::uint64_t{4} << 30) - (1 << 20) && held < (std::uint64_t{4} << 30);
  return SourceError(fmt::format(
      "the clip {} of \"{}\" is cut short: it holds {} of the {} bytes its clip information gives it, as a copy "
      "that stopped part way leaves it. {}",
      file, location.container.string(), held, declared,
      fat32 ? "It stops at 4 GiB, the most a FAT32 drive holds in one file: copy the disc onto a drive formatted "
              "exFAT, NTFS or ext4"
            : "Copy the disc again"));
}

// The clips a stream file of the title holds: its own, or both views of
// its play item for an SSIF file.
std::vector<std::string> clipsHeldBy(const Playlist &playlist, const std::string &file) {
  std::vector<std::string> clips{std::filesystem::path(file).stem().string()};
  if (file.ends_with(".ssif"))
    for (std::size_t i = 0; i < playlist.items.size() && i < playlist.dependentClips.size(); ++i)
      if (playlist.items[i].clip == clips.front())
        clips.push_back(playlist.dependentClips[i]);
  return clips;
}

// A copy of the disc that stopped part way leaves a clip shorter than its
// clip information says; found before any work, with the clip named, rather
// than as a view that stops early after the demux.
void checkClipSizes(const DiscFiles &files, const DiscTitle &title, const DiscLocation &location) {
  for (const auto &file : title.streamFiles) {
    requireWhole(files, file, location);
    std::uint64_t declared = 0;
    for (const auto &clip : clipsHeldBy(title.playlist, file))
      if (const auto bytes = declaredClipBytes(files, clip))
        declared += *bytes;
    if (const auto held = files.size(file); held && *held < declared)
      throw cutShortClip(file, location, *held, declared);
  }
}

void checkClips(const DiscFiles &files, const DiscTitle &title, const DiscLocation &location) {
  const bool aacs = !files.list("AACS").empty();
  for (const auto &file : title.streamFiles) {
    auto head = files.read(file, 6144 * 2);
    if (head && readableTransportStream(*head))
      continue;
    if (aacs)
      throw SourceError("this disc is encrypted; Kestrova reads decrypted discs only");
    throw SourceError(fmt::format("the clip {} of \"{}\" is not a readable Blu-ray transport stream", file,
                                  location.container.string()));
  }
}

} // namespace

std::string DiscTitle::playlistFile() const {
  return "BDMV/PLAYLIST/" + playlistName(number);
}

std::string DiscTitle::text() const {
  std::string out = fmt::format("Disc \"{}\": playlist {} ({}), clips", name, playlistName(number),
                                formatDurationText(playlist.duration()));
  for (const auto &item : playlist.items)
    out += " " + item.clip;
  out += " + dependent view";
  for (const auto &clip : playlist.dependentClips)
    out += " " + clip;
  if (!clipsInSsif.empty()) {
    out += "; the copy lacks";
    for (const auto &clip : clipsInSsif)
      out += " " + clip;
    out += ", read from";
    for (const auto &file : streamFiles)
      if (file.ends_with(".ssif"))
        out += " " + file.substr(file.rfind('/') + 1);
  }
  out += fmt::format("; base view is the {} eye", playlist.baseViewIsRight ? "right" : "left");
  out += "; audio:";
  for (const auto &track : playlist.audio)
    out += " " + track.language;
  out += "; subtitles:";
  for (const auto &track : playlist.subtitles)
    out += " " + track.language +
           (track.offsetSequence ? fmt::format(" (3D plane {})", *track.offsetSequence) : std::string());
  out += fmt::format("; {} chapters", playlist.chapters.size());
  return out;
}

int chooseTitle(const std::vector<TitleCandidate> &candidates, std::optional<int> wanted) {
  const TitleCandidate *best = nullptr, *longest2D = nullptr;
  for (const auto &candidate : candidates) {
    auto &slot = candidate.stereo ? best : longest2D;
    if (!slot || candidate.duration > slot->duration)
      slot = &candidate;
  }
  if (wanted) {
    auto it = std::find_if(candidates.begin(), candidates.end(), [&](const auto &c) { return c.number == *wanted; });
    if (it == candidates.end())
      throw SourceError(fmt::format("the disc has no playlist {}", playlistName(*wanted)));
    if (!it->stereo)
      throw SourceError(fmt::format("the playlist {} is not a 3D playlist; {}", playlistName(*wanted),
                                    best ? fmt::format("the disc's 3D film is {} ({})", playlistName(best->number),
                                                       formatDurationText(best->duration))
                                         : std::string("the disc has none")));
    return *wanted;
  }
  if (best)
    return best->number;
  if (longest2D)
    throw SourceError(fmt::format("no 3D playlist on this disc; its longest playlist, {} ({}), is 2D",
                                  playlistName(longest2D->number), formatDurationText(longest2D->duration)));
  throw SourceError("no 3D playlist on this disc: it has no playlists");
}

std::vector<std::string> titleClipInfoFiles(const DiscTitle &title) {
  std::vector<std::string> files;
  auto add = [&files](const std::string &clip) {
    const std::string file = "BDMV/CLIPINF/" + clip + ".clpi";
    if (std::find(files.begin(), files.end(), file) == files.end())
      files.push_back(file);
  };
  for (const auto &item : title.playlist.items)
    add(item.clip);
  for (const auto &clip : title.playlist.dependentClips)
    add(clip);
  return files;
}

DiscTitle planDiscTitle(const DiscFiles &files, const DiscLocation &location, std::optional<int> wanted) {
  if (files.list("BDMV").empty())
    throw SourceError(fmt::format("no BDMV folder in \"{}\": it is not a Blu-ray disc", location.container.string()));
  const std::map<int, Playlist> playlists = readPlaylists(files, location);
  std::vector<TitleCandidate> all;
  for (const auto &[number, playlist] : playlists)
    all.push_back({number, playlist.duration(), playlist.stereo});
  DiscTitle title;
  std::optional<int> chosen = wanted ? wanted : location.playlist;
  const bool asked = chosen.has_value();
  if (!chosen && location.clip) {
    chosen = longestPlaying(playlists, *location.clip);
    if (!chosen)
      throw SourceError(fmt::format("the clip {} is not part of any 3D playlist of \"{}\"", *location.clip,
                                    location.container.string()));
    title.fromClip = *location.clip;
  }
  title.number = chooseTitle(all, chosen);
  title.playlist = playlists.at(title.number);
  title.candidates = listedCandidates(std::move(all), playlists);
  // Listed candidates never play the same items; one as long as the film plays them otherwise.
  for (const auto &candidate : title.candidates)
    if (!asked && candidate.number != title.number && std::abs(candidate.duration - title.playlist.duration()) < 1.0)
      title.rivals.push_back(candidate.number);
  title.name = files.label();
  if (location.kind == DiscLocation::Kind::folder || title.name.empty()) {
    const std::string fromMetadata = metadataName(location.container);
    if (!fromMetadata.empty())
      title.name = fromMetadata;
  }
  findStreamFiles(files, title, location);
  checkClipSizes(files, title, location);
  checkClips(files, title, location);
  return title;
}

} // namespace kestrova::disc
