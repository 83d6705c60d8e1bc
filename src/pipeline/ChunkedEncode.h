#pragma once

#include "core/Records.h"
#include "pipeline/ChunkFolder.h"
#include "pipeline/ChunkJob.h"
#include "pipeline/ChunkPlan.h"
#include "pipeline/PipelineRun.h"
#include "pipeline/ViewDiscovery.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrova::pipeline {

/// How a run asked only to cut (`chunking.cutOnly`) ends: no movie, its
/// chunks cut and their commands listed one a line in `commands`, in a work
/// folder that the same conversion run again takes up. `what()` says what to
/// run.
class ChunksCutOnly : public std::runtime_error {
public:
  ChunksCutOnly(const std::string &message, std::filesystem::path commands)
      : std::runtime_error(message), commands(std::move(commands)) {}
  std::filesystem::path commands;
};

/// How a chunked road cuts its film: planning the chunks, resuming, running
/// the jobs and keeping what is finished are the same for every source.
struct ChunkCutter {
  /// Where the film may be cut and how long it is, in the pictures its chunk
  /// jobs encode. Throws ConversionError when the film cannot be read.
  std::function<FilmCuts()> scan;
  /// Cuts the film into the pieces of `chunks` inside `folder`, named as
  /// chunkPieces names them. Throws ConversionError when it cannot.
  std::function<void(const std::vector<ChunkSpan> &chunks, const std::filesystem::path &folder)> cut;
  std::uint64_t bytes = 0; ///< about what the pieces take
  std::string jobText;     ///< the programs of a chunk job, for the log ("edge264-pipe → MVHEVCConverter --chunk")
  ChunkJobTools tools;
};

/// What changes a chunk's pictures in `run`: the quality preset, the size
/// and rate of one eye and which eye comes first, and how the source holds
/// the eyes (an MVC film's views, packed or alternate pictures).
ChunkPictureSettings chunkPictureSettings(const PipelineRun &run);

/// Whether the encode of a film of `seconds` is worth cutting into chunks: the film is longer than two chunks, or jobs,
/// hosts or only the cut were asked for.
bool prefersChunkedEncode(double seconds, const ChunkingOptions &options);

/// Encodes the film's demuxed views in chunks into the MV-HEVC movie
/// `output`, with the run's sound and chapters (`converterTracks`, as for
/// the one-encode road; empty: the sound of the run's track source).
/// Cuts at IDR access units every `run.job.chunking.chunkSeconds`, runs
/// several chunk jobs at once, and joins the chunks without encoding again.
/// Finished chunks of an earlier, interrupted run of the same conversion
/// (same source, picture settings, burned-in subtitles and cuts) found in
/// the output folder are reused unless `chunking.resume` is off. A cancelled or failed
/// run leaves its finished chunks in a work folder of their own for the next
/// run, and says so. Progress counts the pictures of all chunks. A run asked
/// only to cut leaves the pieces there too and throws ChunksCutOnly.
/// Throws ConversionError (encodingFailed naming the chunk, decodingFailed,
/// cancelled, toolNotFound).
void encodeChunked(PipelineRun &run, const std::string &decoder, const ViewFiles &views,
                   const std::filesystem::path &output, const std::vector<std::string> &converterTracks);

/// Encodes the film `cutter` cuts in chunks of `picture` into the MV-HEVC
/// movie `output`, with `converterTracks` (empty: the sound of the run's
/// track source), as encodeChunked does for the views of an MVC film.
void encodeChunkedMvhevc(PipelineRun &run, const ChunkCutter &cutter, const ChunkPictureSettings &picture,
                         const std::filesystem::path &output, const std::vector<std::string> &converterTracks);

/// The same for the full side-by-side file `output`: each chunk's pairs
/// stacked by yuv_hstack and encoded by ffmpeg with the side-by-side
/// encoder's words into a segment; the segments joined by ffmpeg's concat
/// without encoding them again, with the sound encoded once over the whole
/// film and the tracks and chapters of the one-piece encode. The output kind
/// is part of the picture settings, so side-by-side and MV-HEVC chunks never mix.
void encodeChunkedSideBySide(PipelineRun &run, const std::string &decoder, const ViewFiles &views,
                             const std::filesystem::path &output);

} // namespace kestrova::pipeline
