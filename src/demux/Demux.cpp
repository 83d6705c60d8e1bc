#include "demux/Demux.h"

#include "core/Errors.h"
#include "core/Utf8.h"
#include "demux/DemuxMeta.h"
#include "tools/Process.h"

#include <cerrno>
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
std::string utf8OrEmpty(const std::string &text) {
  return isValidUtf8(text) ? text : std::string();
}
} // namespace

void demux(pipeline::PipelineEngine &engine, const fs::path &source, const fs::path &workDirectory, bool singleTrack,
           std::optional<std::int64_t> durationLimit) {
  auto tsmuxer = engine.findTool("tsmuxer");
  if (!tsmuxer)
    throw ConversionError::toolNotFound(
        "tsmuxer not found: build it with scripts/build-tools, or put a tsmuxer program into the tools folder "
        "(share/kestrova/tools)");

  // tsMuxeR names tracks by its own numbers (a transport stream's PIDs, a
  // Matroska file's track and sub-track), which no other tool reports: ask it.
  engine.verbose(singleTrack ? "MakeMKV MKV detected \u2014 using subTrack demux" : "Running tsMuxeR demux...");
  tools::ProcessLaunch info;
  info.executable = *tsmuxer;
  info.arguments = {source.string()};
  std::string report = utf8OrEmpty(tools::runAndCollect(info).standardOutput);
  engine.verbose("tsMuxeR info:\n" + report);
  std::string meta;
  if (!singleTrack) {
    SeparateTracks tracks = parseSeparateTracks(report);
    engine.verbose(fmt::format("AVC: track={}", tracks.avcTrack));
    engine.verbose(fmt::format("MVC: track={}", tracks.mvcTrack));
    meta = separateTrackMeta(source, tracks, durationLimit);
  } else {
    SubTracks sub = parseInformationReport(report);
    engine.verbose(fmt::format("AVC: track={}, subTrack={}", sub.avcTrack, sub.avcSubTrack));
    engine.verbose(fmt::format("MVC: track={}, subTrack={}", sub.mvcTrack, sub.mvcSubTrack));
    meta = singleTrackMeta(source, sub, durationLimit);
  }

  fs::path metaFile = workDirectory / "demux.meta";
  writeFileAtomically(metaFile, meta);
  engine.verbose("tsMuxeR meta:\n" + meta);
  engine.verbose("Running tsMuxeR with meta: " + metaFile.string());

  tools::ProcessLaunch run;
  run.executable = *tsmuxer;
  run.arguments = {metaFile.string(), workDirectory.string()};
  auto process = engine.createCurrentProcess(run);
  std::string out, err;
  auto status = tools::runAndStream(
      *process, [&out](std::string_view chunk) { out.append(chunk); },
      [&err](std::string_view chunk) { err.append(chunk); });
  engine.verbose(utf8OrEmpty(out));
  engine.verbose(utf8OrEmpty(err));
  if (!status.success())
    throw ConversionError::demuxFailed("tsMuxeR exited with code " + std::to_string(status.terminationStatus));
}

} // namespace kestrova::demux
