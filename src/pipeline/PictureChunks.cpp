#include "pipeline/PictureChunks.h"

#include "core/Errors.h"
#include "pipeline/ChunkedEncode.h"
#include "pipeline/RequiredTool.h"
#include "pipeline/ToolBlame.h"
#include "tools/Process.h"

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
  return closedCuts(presentation, key, picturesPerUnit);
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

/// The source's first video stream cut by ffmpeg's segment muxer, without
/// encoding, at the key frames that start the chunks: it splits at the first
/// key frame at or past each listed packet number, which for a closed cut
/// is the picture the chunk starts at.
void cutPictures(PipelineRun &run, const std::string &ffmpeg, ChunkInput input, const std::vector<ChunkSpan> &chunks,
                 const fs::path &folder) {
  const int picturesPerUnit = input == ChunkInput::frameAlternate ? 2 : 1;
  std::string starts;
  for (const auto &chunk : chunks)
    if (chunk.firstFrame > 0)
      starts += (starts.empty() ? "" : ",") + std::to_string(chunk.firstFrame * picturesPerUnit);
  tools::ProcessLaunch launch;
  launch.executable = ffmpeg;
  launch.arguments = {"-nostdin", "-v", "error", "-y", "-i", run.job.sourceURL.string(), "-map", "0:v:0", "-c", "copy"};
  if (starts.empty()) {
    launch.arguments.insert(launch.arguments.end(), {"-f", "matroska", chunkPieces(folder, 0, input).first.string()});
  } else {
    launch.arguments.insert(launch.arguments.end(),
                            {"-f", "segment", "-segment_format", "matroska", "-segment_frames", starts,
                             "-reset_timestamps", "1", (folder / "piece_%03d.mkv").string()});
  }
  launch.standardOutput = tools::StreamMode::discard;
  runTool(run, std::move(launch), "ffmpeg could not cut the source into chunks");
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
  const std::string ffmpeg = requireFfmpeg(run.engine);
  const std::string ffprobe = requireTool(run.engine, "ffprobe");
  // A duration limit ends the last alternate chunk's decode where the one-piece road's ffmpeg ends
  // its input; the packed road's converter reads whole pieces, as it reads the whole source.
  std::optional<std::int64_t> pairLimit;
  if (run.job.durationLimit && picturesPerUnit == 2)
    pairLimit = *run.job.durationLimit * picture.frameRateNum / picture.frameRateDen;
  cutter.scan = [&run, ffprobe, picturesPerUnit, pairLimit] {
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
      run.engine.log("\u26a0\ufe0f No key frame of the film starts a piece that decodes on its own (an open GOP "
                     "encode, or pictures without times): it is encoded as one chunk");
    return cuts;
  };
  cutter.cut = [&run, ffmpeg, input = picture.input](const std::vector<ChunkSpan> &chunks, const fs::path &folder) {
    cutPictures(run, ffmpeg, input, chunks, folder);
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

  run.report(ConversionStage::complete, 1.0);
  run.engine.verbose("\u2705 MV-HEVC conversion complete: " + output.filename().string());
  run.succeeded = true;
  return {output.string(), run.workDirectory, std::nullopt};
}

} // namespace kestrova::pipeline
