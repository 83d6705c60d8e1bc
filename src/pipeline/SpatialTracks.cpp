#include "pipeline/SpatialTracks.h"

#include "demux/Demux.h"
#include "tools/Process.h"

#include <fmt/format.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

bool usageTakesTracks(const std::string &usage) {
  return usage.find("--audio ") != std::string::npos && usage.find("--chapters") != std::string::npos;
}

std::vector<std::string> converterTrackArguments(const fs::path &file, const std::vector<analysis::MediaTrack> &audio,
                                                 const fs::path &chapterList) {
  std::vector<std::string> arguments;
  for (const auto &track : audio)
    arguments.insert(arguments.end(), {"--audio", file.string(), "--audio-stream", std::to_string(track.stream),
                                       "--audio-language", track.language});
  if (!chapterList.empty())
    arguments.insert(arguments.end(), {"--chapters", chapterList.string()});
  return arguments;
}

namespace {

bool converterTakesTracks(const PipelineEngine &engine) {
  auto converter = engine.findTool("MVHEVCConverter");
  if (!converter)
    return false;
  tools::ProcessLaunch launch;
  launch.executable = *converter;
  try {
    const auto usage = tools::runAndCollect(launch);
    return usageTakesTracks(usage.standardOutput + usage.standardError);
  } catch (const std::exception &) {
    return false;
  }
}

std::string languages(const std::vector<analysis::MediaTrack> &tracks) {
  std::string text;
  for (const auto &track : tracks)
    text += (text.empty() ? "" : ", ") + track.language;
  return text;
}

} // namespace

std::vector<std::string> spatialTrackArguments(PipelineRun &run, const fs::path &file, bool fromSideBySide) {
  const auto &tracks = run.tracks;
  // A burned-in track is in the pictures; the .mov cannot hold the others.
  std::vector<analysis::MediaTrack> leftOut = tracks.subtitles;
  const auto burned = run.burnIn ? run.subtitleChoice.track : std::nullopt;
  const std::string kept = run.outputs.sideBySide ? " (the side-by-side .mkv keeps them)" : "";
  if (burned && *burned < leftOut.size()) {
    leftOut.erase(leftOut.begin() + static_cast<std::ptrdiff_t>(*burned));
    run.engine.log(fmt::format("Subtitle track {} ({}) is burned into both eyes of the MV-HEVC .mov{}", *burned + 1,
                               tracks.subtitles[*burned].language,
                               leftOut.empty() ? ""
                                               : fmt::format("; the other subtitle track(s) ({}) cannot go "
                                                             "into it and were left out{}",
                                                             languages(leftOut), kept)));
  } else if (!leftOut.empty()) {
    run.engine.log(fmt::format("Subtitles cannot go into the MV-HEVC .mov: its {} subtitle track(s) ({}) were left "
                               "out of it{}",
                               leftOut.size(), languages(leftOut), kept));
  }
  if (!converterTakesTracks(run.engine)) {
    if (tracks.audio.size() > 1)
      run.engine.log(fmt::format("\u26a0\ufe0f This MVHEVCConverter takes one sound track: the MV-HEVC file has "
                                 "one of the {} ({})",
                                 tracks.audio.size(), languages(tracks.audio)));
    return {};
  }
  std::vector<analysis::MediaTrack> audio = tracks.audio;
  for (std::size_t i = 0; fromSideBySide && i < audio.size(); ++i)
    audio[i].stream = static_cast<std::int64_t>(i) + 1;
  fs::path chapterList;
  if (!tracks.chapters.empty()) {
    chapterList = run.workDirectory / "chapters.txt";
    demux::writeFileAtomically(chapterList, analysis::chapterListText(tracks.chapters));
  }
  return converterTrackArguments(file, audio, chapterList);
}

} // namespace kestrova::pipeline
