#include "demux/Demux.h"

#include "core/Errors.h"
#include "core/Utf8.h"
#include "demux/DemuxMeta.h"
#include "tools/Process.h"

#include <cerrno>
#include <charconv>
#include <fmt/format.h>
#include <fstream>
#include <unistd.h>

namespace kestrova::demux {
namespace fs = std::filesystem;

void writeFileAtomically(const fs::path &file, const std::string &text) {
  fs::path temporary = file;
  temporary += ".tmp-" + std::to_string(::getpid());
  {
    errno = 0;
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      // The system's own reason (a name too long, a full disk), not a made-up one.
      const int error = errno != 0 ? errno : EIO;
      std::error_code ignored;
      fs::remove(temporary, ignored);
      throw fs::filesystem_error("cannot write", temporary, std::error_code(error, std::generic_category()));
    }
  }
  fs::rename(temporary, file);
}

namespace {

std::filesystem::path findTsmuxer(tools::StepContext &context) {
  auto tsmuxer = context.findTool("tsmuxer");
  if (!tsmuxer)
    throw ConversionError::toolNotFound(
        "tsmuxer not found: build it with scripts/build-tools, or put a tsmuxer program into the tools folder "
        "(share/kestrova/tools)");
  return *tsmuxer;
}

// tsMuxeR names tracks by its own numbers (a transport stream's PIDs, a
// Matroska file's track and sub-track), which no other tool reports: ask it.
std::string informationReport(tools::StepContext &context, const fs::path &tsmuxer, const fs::path &source) {
  tools::ProcessLaunch info;
  info.executable = tsmuxer;
  info.arguments = {source.string()};
  // Read whole and kept as it is: a file name in a legacy encoding must not
  // cost the track list.
  std::string report = tools::runAndCollect(info).standardOutput;
  context.verbose("tsMuxeR info:\n" + escapedForLog(report));
  return report;
}

void runMeta(tools::StepContext &context, const fs::path &tsmuxer, const std::string &meta,
             const fs::path &workDirectory, const DemuxProgress &progress) {
  fs::path metaFile = workDirectory / "demux.meta";
  writeFileAtomically(metaFile, meta);
  context.verbose("tsMuxeR meta:\n" + meta);
  context.verbose("Running tsMuxeR with meta: " + metaFile.string());

  tools::ProcessLaunch run;
  run.executable = tsmuxer;
  run.arguments = {metaFile.string(), workDirectory.string()};
  auto process = context.createCurrentProcess(run);
  std::string out, err;
  auto status = tools::runAndStreamLines(
      *process,
      [&out, &progress](std::string_view line) {
        if (auto fraction = tsmuxerFraction(line); fraction && progress)
          progress(*fraction);
        else
          out += escapedForLog(line) + "\n";
      },
      [&err](std::string_view line) { err += escapedForLog(line) + "\n"; });
  context.verbose(out);
  context.verbose(err);
  if (!status.success())
    throw ConversionError::demuxFailed("tsMuxeR exited with code " + std::to_string(status.terminationStatus));
}

} // namespace

std::optional<double> tsmuxerFraction(std::string_view line) {
  constexpr std::string_view suffix = "% complete";
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
    line.remove_suffix(1);
  if (!line.ends_with(suffix))
    return std::nullopt;
  line.remove_suffix(suffix.size());
  double percent = 0;
  const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), percent);
  if (ec != std::errc() || end != line.data() + line.size() || !(percent >= 0 && percent <= 100))
    return std::nullopt;
  return percent / 100;
}

void demux(tools::StepContext &context, const fs::path &source, const fs::path &workDirectory, bool singleTrack,
           std::optional<std::int64_t> durationLimit, const DemuxProgress &progress) {
  const fs::path tsmuxer = findTsmuxer(context);
  context.verbose(singleTrack ? "MakeMKV MKV detected \u2014 using subTrack demux" : "Running tsMuxeR demux...");
  const std::string report = informationReport(context, tsmuxer, source);
  std::string meta;
  if (!singleTrack) {
    SeparateTracks tracks = parseSeparateTracks(report);
    context.verbose(fmt::format("AVC: track={}", tracks.avcTrack));
    context.verbose(fmt::format("MVC: track={}", tracks.mvcTrack));
    meta = separateTrackMeta(source, tracks, durationLimit);
  } else {
    SubTracks sub = parseInformationReport(report);
    context.verbose(fmt::format("AVC: track={}, subTrack={}", sub.avcTrack, sub.avcSubTrack));
    context.verbose(fmt::format("MVC: track={}, subTrack={}", sub.mvcTrack, sub.mvcSubTrack));
    meta = singleTrackMeta(source, sub, durationLimit);
  }
  runMeta(context, tsmuxer, meta, workDirectory, progress);
}

void demuxPlaylist(tools::StepContext &context, const fs::path &playlist, const fs::path &workDirectory,
                   const std::vector<ExtraTrack> &extra, std::optional<std::int64_t> durationLimit,
                   const DemuxProgress &progress) {
  const fs::path tsmuxer = findTsmuxer(context);
  context.verbose("Running tsMuxeR demux of the disc playlist...");
  const SeparateTracks tracks = parseSeparateTracks(informationReport(context, tsmuxer, playlist));
  context.verbose(fmt::format("AVC: track={}, MVC: track={}", tracks.avcTrack, tracks.mvcTrack));
  runMeta(context, tsmuxer, playlistMeta(playlist, tracks, extra, durationLimit), workDirectory, progress);
}

} // namespace kestrova::demux
