#include "pipeline/DiscTracks.h"
#include "pipeline/RequiredTool.h"
#include "pipeline/ToolBlame.h"

#include "core/Errors.h"
#include "demux/Demux.h"
#include "tools/Process.h"

#include <algorithm>
#include <fmt/format.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

/// The file tsMuxeR demuxed the stream `pid` to (`<name>.track_<pid>[_lang].<ext>`).
std::optional<fs::path> demuxedFile(const fs::path &folder, std::int64_t pid) {
  const std::string marker = fmt::format(".track_{}", pid);
  for (const auto &entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    const auto at = name.find(marker);
    if (at == std::string::npos)
      continue;
    const char next = at + marker.size() < name.size() ? name[at + marker.size()] : '\0';
    if ((next == '.' || next == '_') && entry.is_regular_file() && entry.file_size() > 0)
      return entry.path();
  }
  return std::nullopt;
}

struct Joined {
  std::vector<fs::path> inputs;
  analysis::MediaTracks tracks;
};

// Which of the playlist's streams were demuxed, in playlist order: audio, then subtitles.
Joined demuxedStreams(PipelineRun &run, const std::vector<disc::PlaylistStream> &audio,
                      const std::vector<disc::PlaylistStream> &subtitles) {
  Joined joined;
  std::int64_t index = 0;
  for (const auto *list : {&audio, &subtitles}) {
    for (const auto &stream : *list) {
      auto file = demuxedFile(run.workDirectory, stream.pid);
      if (!file) {
        run.engine.log(
            fmt::format("\u26a0\ufe0f The disc's {} track {} (language {}) could not be read; it is left out",
                        list == &audio ? "audio" : "subtitle", stream.pid, stream.language));
        continue;
      }
      joined.inputs.push_back(*file);
      analysis::MediaTrack track{index++, stream.language, demux::codecOfCodingType(stream.codingType)};
      (list == &audio ? joined.tracks.audio : joined.tracks.subtitles).push_back(track);
    }
  }
  return joined;
}

std::vector<std::string> joinArguments(const Joined &joined, const fs::path &chapters, const fs::path &output) {
  // -copyts: a subtitle file's times are the film's; ffmpeg would otherwise
  // move its first subtitle to the start.
  std::vector<std::string> arguments{"-y", "-v", "error", "-nostdin", "-copyts"};
  for (const auto &input : joined.inputs)
    arguments.insert(arguments.end(), {"-i", input.string()});
  arguments.insert(arguments.end(), {"-f", "ffmetadata", "-i", chapters.string()});
  for (std::size_t i = 0; i < joined.inputs.size(); ++i)
    arguments.insert(arguments.end(), {"-map", std::to_string(i)});
  arguments.insert(arguments.end(), {"-map_chapters", std::to_string(joined.inputs.size()), "-c", "copy"});
  for (const auto *list : {&joined.tracks.audio, &joined.tracks.subtitles})
    for (const auto &track : *list)
      arguments.insert(arguments.end(), {fmt::format("-metadata:s:{}", track.stream), "language=" + track.language});
  arguments.insert(arguments.end(),
                   {"-disposition:a", "0", "-disposition:a:0", "default", "-disposition:s", "0", output.string()});
  return arguments;
}

} // namespace

std::vector<analysis::Chapter> discChapters(const disc::Playlist &playlist, std::optional<std::int64_t> limit) {
  const double end = limit ? std::min(playlist.duration(), static_cast<double>(*limit)) : playlist.duration();
  std::vector<analysis::Chapter> chapters;
  for (double start : playlist.chapters) {
    if (start >= end)
      break;
    if (!chapters.empty())
      chapters.back().end = start;
    chapters.push_back({start, end, ""});
  }
  return analysis::namedChapters(std::move(chapters));
}

void demuxDiscTitle(PipelineRun &run, const demux::DemuxProgress &progress) {
  const disc::Playlist &playlist = run.disc->playlist;
  std::vector<demux::ExtraTrack> extra;
  std::vector<disc::PlaylistStream> audio, subtitles;
  for (const auto *list : {&playlist.audio, &playlist.subtitles}) {
    for (const auto &stream : *list) {
      const std::string codec = demux::codecOfCodingType(stream.codingType);
      if (codec.empty()) {
        run.engine.log(fmt::format("\u26a0\ufe0f The disc's track {} (coding type 0x{:02x}, language {}) cannot be "
                                   "demuxed; it is left out",
                                   stream.pid, stream.codingType, stream.language));
        continue;
      }
      extra.push_back({stream.pid, codec});
      (list == &playlist.audio ? audio : subtitles).push_back(stream);
    }
  }
  demux::demuxPlaylist(run.engine, run.discPlaylist, run.workDirectory, extra, run.job.durationLimit, progress);

  Joined joined = demuxedStreams(run, audio, subtitles);
  if (joined.inputs.empty()) {
    // Nothing to join: the first clip stands in, with no sound to take.
    run.engine.log("The disc's playlist has no audio or subtitle track to keep");
    run.trackSource = run.discPlaylist.parent_path().parent_path().parent_path() / run.disc->streamFiles.front();
    run.tracks = {};
    return;
  }
  joined.tracks.chapters = discChapters(playlist, run.job.durationLimit);
  const fs::path chapters = run.workDirectory / "chapters.ffmeta";
  const fs::path output = run.workDirectory / "tracks.mkv";
  demux::writeFileAtomically(chapters, analysis::ffmetadataText(joined.tracks.chapters));
  const std::string ffmpeg = requireFfmpeg(run.engine);
  tools::ProcessLaunch launch;
  launch.executable = ffmpeg;
  launch.arguments = joinArguments(joined, chapters, output);
  auto process = run.engine.createCurrentProcess(std::move(launch));
  // The process keeps what ffmpeg says last on standard error, as for every tool.
  auto status = tools::runAndStream(*process, {}, {});
  if (!status.success() || !fs::exists(output))
    throw ConversionError::demuxFailed("joining the disc's audio and subtitle tracks failed: " +
                                       reasonLine(process->errorTail()));
  for (const auto &input : joined.inputs) {
    std::error_code ignored;
    fs::remove(input, ignored);
  }
  run.engine.log(fmt::format("Disc tracks: {} audio, {} subtitle, {} chapters", joined.tracks.audio.size(),
                             joined.tracks.subtitles.size(), joined.tracks.chapters.size()));
  run.trackSource = output;
  run.tracks = std::move(joined.tracks);
}

} // namespace kestrova::pipeline
