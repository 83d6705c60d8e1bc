#include "pipeline/DiscSource.h"

#include "disc/DiscLocation.h"
#include "disc/TitleFiles.h"

#include <chrono>
#include <fmt/format.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

// A clip copied out of a disc without its playlists: say that it may be one part of a film.
void warnAboutLoneClip(const fs::path &source, const LogFn &say) {
  const fs::path clipInfo = source.parent_path().parent_path() / "CLIPINF" / (source.stem().string() + ".clpi");
  std::error_code error;
  if (fs::exists(clipInfo, error))
    say(fmt::format("\u26a0\ufe0f \"{}\" is one clip of a Blu-ray disc whose playlists are not beside it; a film is "
                    "often split over several clips, and only this one is converted",
                    source.filename().string()));
}

} // namespace

std::optional<DiscSource> openDiscSource(const ConversionJob &job, const LogFn &say) {
  const disc::DiscLocation location = disc::locateDisc(job.sourceURL);
  if (!location.isDisc()) {
    warnAboutLoneClip(fs::absolute(job.sourceURL), say);
    return std::nullopt;
  }
  DiscSource source;
  source.files = location.kind == disc::DiscLocation::Kind::image ? disc::openDiscImage(location.container)
                                                                  : disc::openDiscFolder(location.container);
  source.title = disc::planDiscTitle(*source.files, location, job.playlist);
  const auto &title = source.title;
  std::string candidates;
  for (const auto &candidate : title.candidates)
    candidates += fmt::format(" {:05}.mpls ({})", candidate.number, formatDurationText(candidate.duration));
  say("Blu-ray 3D playlists:" + candidates);
  say(title.text());
  if (!title.rivals.empty()) {
    std::string rivals;
    for (int number : title.rivals)
      rivals += fmt::format(" {:05}.mpls", number);
    say(fmt::format("\u26a0\ufe0f {} other 3D playlist(s) as long as {:05}.mpls play the film's clips otherwise:{}. "
                    "Some discs hide the film's order among such copies: if scenes come out of order, convert "
                    "one of the others (--playlist N, or open its file in BDMV/PLAYLIST)",
                    title.rivals.size(), title.number, rivals));
  }
  if (title.fromClip)
    say(fmt::format("{} is a clip of the playlist {:05}.mpls: converting the whole playlist",
                    job.sourceURL.filename().string(), title.number));
  return source;
}

std::optional<SourceFileInfo> analyzeDiscSource(const fs::path &source) {
  ConversionJob job;
  job.sourceURL = source;
  auto disc = openDiscSource(job, [](const std::string &) {});
  if (!disc)
    return std::nullopt;
  return discSourceInfo(disc->title, source);
}

SourceFileInfo discSourceInfo(const disc::DiscTitle &title, const fs::path &source) {
  SourceFileInfo info;
  info.url = source;
  info.fileName = title.name;
  info.title = title.name;
  info.duration = title.playlist.duration();
  const auto size = disc::videoFormatSize(title.playlist.videoFormat).value_or(std::pair{1920, 1080});
  const auto rate = disc::frameRateOfCode(title.playlist.frameRateCode).value_or(std::pair{24000, 1001});
  info.videoWidth = size.first;
  info.videoHeight = size.second;
  info.resolution = fmt::format("{}x{}", size.first, size.second);
  info.frameRateNum = rate.first;
  info.frameRateDen = rate.second;
  info.hasMVCStream = true;
  info.stereoMode = Stereo3DMode::mvcSeparateTracks();
  for (const auto &stream : title.playlist.subtitles)
    info.subtitleLanguages.push_back(stream.language);
  return info;
}

fs::path prepareDiscPlaylist(const DiscSource &source, const fs::path &workDirectory, const LogFn &log) {
  const auto started = std::chrono::steady_clock::now();
  const disc::TitleFiles files = disc::titleFiles(*source.files, source.title, workDirectory);
  if (files.copiedBytes > 0) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    log(fmt::format("Copied the playlist's clips out of the disc image into the work folder: {} MB in {:.1f} s "
                    "(removed at the end)",
                    files.copiedBytes / 1000000, seconds));
  }
  return files.playlist;
}

} // namespace kestrova::pipeline
