#include "pipeline/PictureChunks.h"

#include "core/Errors.h"
#include "demux/Demux.h"
#include "pipeline/ChunkedEncode.h"
#include "pipeline/RequiredTool.h"
#include "pipeline/ToolBlame.h"
#include "tools/Process.h"
#include "tools/QuotedWord.h"

#include <algorithm>
#include <fmt/format.h>
#include <optional>
#include <sstream>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

FilmCuts packetListCuts(const std::string &packets, int picturesPerUnit) {
  std::vector<std::optional<std::int64_t>> presentation;
  std::vector<bool> key;
  std::istringstream lines(packets);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("pts="))
      continue;
    std::optional<std::int64_t> pts;
    bool isKey = false;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '|');) {
      if (field.starts_with("pts=") && field != "pts=N/A") {
        try {
          pts = std::stoll(field.substr(4));
        } catch (const std::exception &) {
          pts.reset();
        }
      } else if (field.starts_with("flags=")) {
        isKey = field.size() > 6 && field[6] == 'K';
      }
    }
    presentation.push_back(pts);
    key.push_back(isKey);
  }
  return keyFrameCuts(presentation, key, picturesPerUnit);
}

namespace {

/// Runs `launch` as the run's current process (a cancel ends it); its
/// standard output, or the failure in `what`'s words.
std::string runTool(PipelineRun &run, tools::ProcessLaunch launch, const std::string &what) {
  std::string output;
  auto process = run.engine.createCurrentProcess(std::move(launch));
  const auto status =
      tools::runAndStreamLines(*process, [&output](std::string_view line) { output.append(line).push_back('\n'); }, {});
  if (run.engine.isCancelled())
    throw ConversionError::cancelled();
  if (!status.success())
    throw ConversionError::decodingFailed(what + ": " + reasonLine(process->errorTail()));
  return output;
}

/// Where chunk `chunk` starts in the coded stream.
KeyFrameCut keyOf(const FilmCuts &cuts, const ChunkSpan &chunk) {
  const auto key = std::find_if(cuts.keys.begin(), cuts.keys.end(),
                                [&chunk](const KeyFrameCut &cut) { return cut.start == chunk.firstFrame; });
  if (key == cuts.keys.end())
    throw ConversionError::decodingFailed(
        fmt::format("no key frame starts chunk {} at picture {} of the source", chunk.index + 1, chunk.firstFrame));
  return *key;
}

/// The segment that follows a piece, and where in it the piece ends.
struct NextSegment {
  fs::path file;
  KeyFrameCut key;
};

/// `piece`, made of a film cut in an open GOP: the segment `own` (of
/// `ownPackets` packets; nothing: the last) without its key frame's leading
/// pictures (`key`), followed by the first packets of `next` up to the end of
/// the next key frame's leading pictures, which are shown before it and so
/// belong to this chunk.
void joinOpenPiece(PipelineRun &run, const std::string &ffmpeg, const fs::path &piece, const KeyFrameCut &key,
                   const fs::path &own, std::optional<std::int64_t> ownPackets,
                   const std::optional<NextSegment> &next) {
  const fs::path list = fs::path(piece).replace_extension(".ffconcat");
  std::string files = "ffconcat version 1.0\nfile " + tools::singleQuoted(fs::absolute(own).string()) + "\n";
  if (next)
    files += "file " + tools::singleQuoted(fs::absolute(next->file).string()) + "\n";
  demux::writeFileAtomically(list, files);
  tools::ProcessLaunch launch;
  launch.executable = ffmpeg;
  launch.arguments = {"-nostdin", "-v", "error",       "-y",   "-f",    "concat", "-safe",
                      "0",        "-i", list.string(), "-map", "0:v:0", "-c",     "copy"};
  if (key.leading > 0)
    launch.arguments.insert(launch.arguments.end(),
                            {"-bsf:v", fmt::format("noise=drop=between(n\\,1\\,{})", key.leading)});
  // The packets written, counted after those left out.
  if (ownPackets)
    launch.arguments.insert(launch.arguments.end(), {"-frames:v", std::to_string(*ownPackets - key.leading +
                                                                                 (next ? 1 + next->key.leading : 0))});
  launch.arguments.insert(launch.arguments.end(), {"-f", "matroska", piece.string()});
  launch.standardOutput = tools::StreamMode::discard;
  runTool(run, std::move(launch), "ffmpeg could not make " + piece.filename().string() + " of the source");
  std::error_code ignored;
  fs::remove(list, ignored);
}

/// The source's first video stream cut by ffmpeg's segment muxer, without
/// encoding, at the key frames that start the chunks: it splits at the first
/// key frame at or past each listed packet number, which is the chunk's key
/// frame. Where a key frame has leading pictures (an open GOP), the pieces
/// around it are made again from the segments (see joinOpenPiece).
void cutPictures(PipelineRun &run, const std::string &ffmpeg, ChunkInput input, const std::vector<ChunkSpan> &chunks,
                 const FilmCuts &cuts, const fs::path &folder) {
  std::vector<KeyFrameCut> keys;
  for (const auto &chunk : chunks)
    keys.push_back(keyOf(cuts, chunk));
  const bool open = std::any_of(keys.begin(), keys.end(), [](const KeyFrameCut &key) { return key.leading > 0; });
  std::string starts;
  for (const auto &key : keys)
    if (key.packet > 0)
      starts += (starts.empty() ? "" : ",") + std::to_string(key.packet);
  tools::ProcessLaunch launch;
  launch.executable = ffmpeg;
  launch.arguments = {"-nostdin", "-v", "error", "-y", "-i", run.job.sourceURL.string(), "-map", "0:v:0", "-c", "copy"};
  const auto segment = [&folder](std::size_t index) { return folder / fmt::format("segment_{:03}.mkv", index); };
  if (starts.empty()) {
    launch.arguments.insert(launch.arguments.end(), {"-f", "matroska", chunkPieces(folder, 0, input).first.string()});
  } else {
    // The segments an open GOP joins again keep the source's times: reset,
    // the leading pictures after a segment's key frame would lose theirs.
    launch.arguments.insert(launch.arguments.end(),
                            {"-f", "segment", "-segment_format", "matroska", "-segment_frames", starts});
    if (!open)
      launch.arguments.insert(launch.arguments.end(), {"-reset_timestamps", "1", (folder / "piece_%03d.mkv").string()});
    else
      launch.arguments.push_back((folder / "segment_%03d.mkv").string());
  }
  launch.standardOutput = tools::StreamMode::discard;
  runTool(run, std::move(launch), "ffmpeg could not cut the source into chunks");
  if (starts.empty() || !open)
    return;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const bool last = i + 1 == keys.size();
    const fs::path piece = chunkPieces(folder, static_cast<int>(i), input).first;
    if (keys[i].leading == 0 && (last || keys[i + 1].leading == 0)) {
      fs::rename(segment(i), piece);
      continue;
    }
    std::optional<std::int64_t> ownPackets;
    std::optional<NextSegment> next;
    if (!last) {
      ownPackets = keys[i + 1].packet - keys[i].packet;
      if (keys[i + 1].leading > 0)
        next = NextSegment{segment(i + 1), keys[i + 1]};
    }
    joinOpenPiece(run, ffmpeg, piece, keys[i], segment(i), ownPackets, next);
    std::error_code ignored;
    fs::remove(segment(i), ignored);
  }
}

} // namespace

ConversionResult runChunkedPictures(PipelineRun &run) {
  const fs::path &output = run.outputs.spatial.value();
  run.plan.follow(ProgressRoad::picturesInChunks);
  const ChunkPictureSettings picture = chunkPictureSettings(run);
  const int picturesPerUnit = picture.input == ChunkInput::frameAlternate ? 2 : 1;
  // The sound is the source's, encoded once over the whole film when the chunks are joined.
  run.trackSource = run.job.sourceURL;

  ChunkCutter cutter;
  FilmCuts found; // what the scan found, which the cut follows
  const std::string ffmpeg = requireFfmpeg(run.engine);
  const std::string ffprobe = requireTool(run.engine, "ffprobe");
  // A duration limit ends the last alternate chunk's decode where the one-piece road's ffmpeg ends
  // its input; the packed road's converter reads whole pieces, as it reads the whole source.
  std::optional<std::int64_t> pairLimit;
  if (run.job.durationLimit && picturesPerUnit == 2)
    pairLimit = *run.job.durationLimit * picture.frameRateNum / picture.frameRateDen;
  cutter.scan = [&run, &found, ffprobe, picturesPerUnit, pairLimit] {
    tools::ProcessLaunch launch;
    launch.executable = ffprobe;
    launch.arguments = {"-v",  "error",       "-select_streams",         "v:0", "-show_entries", "packet=pts,flags",
                        "-of", "compact=p=0", run.job.sourceURL.string()};
    FilmCuts cuts = packetListCuts(runTool(run, std::move(launch), "ffprobe could not list the source's pictures"),
                                   picturesPerUnit);
    if (cuts.pictures == 0)
      throw ConversionError::decodingFailed("ffprobe found no pictures in " + run.job.sourceURL.filename().string());
    if (pairLimit)
      cuts.pictures = std::min(cuts.pictures, *pairLimit);
    if (cuts.starts.size() == 1)
      run.engine.log("\u26a0\ufe0f No key frame of the film starts a piece that decodes on its own (pictures "
                     "without times, or leading pictures apart from their key frame): it is encoded as one chunk");
    found = cuts;
    return cuts;
  };
  cutter.cut = [&run, &found, ffmpeg, input = picture.input](const std::vector<ChunkSpan> &chunks,
                                                             const fs::path &folder) {
    cutPictures(run, ffmpeg, input, chunks, found, folder);
  };
  std::error_code sizeError;
  cutter.bytes = fs::file_size(run.job.sourceURL, sizeError);
  if (sizeError)
    cutter.bytes = 0;
  cutter.tools.converter = requireTool(run.engine, "MVHEVCConverter");
  cutter.tools.ffmpeg = ffmpeg;
  cutter.jobText = picturesPerUnit == 2 ? "ffmpeg \u2192 MVHEVCConverter --chunk, a pair from every two pictures"
                                        : "MVHEVCConverter --chunk, reading each piece as it is packed";
  encodeChunkedMvhevc(run, cutter, picture, run.writePath(output), {});

  run.engine.verbose("\u2705 MV-HEVC conversion complete: " + output.filename().string());
  run.succeeded = true;
  return {output.string(), run.workDirectory, std::nullopt};
}

} // namespace kestrova::pipeline
