#pragma once

#include "pipeline/EncoderTable.h"
#include "pipeline/StreamDecodeRequest.h"
#include "pipeline/ToolOutputParsers.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::pipeline {

class PipelineEngine;

/// How the segment-parallel script is asked to work.
struct ParallelOptions {
  std::filesystem::path script; ///< parallel-pipeline.sh, as the tool inventory found it
  /// The MVC view file: the script splits both views itself ("--dual-split").
  std::optional<std::filesystem::path> dualSplitMvc;
};

/// The arguments of the script's two ffmpeg runs, made from the same encoder
/// arguments as every other road's (through `encoders`): `encode` for each
/// segment's video (codec, quality, rate cap), `join` for the joined file
/// (the source's tracks, the sound, the container's tags and flags).
struct SegmentedEncode {
  std::vector<std::string> encode;
  std::vector<std::string> join;
};
SegmentedEncode segmentedEncode(const StreamDecodeRequest &request, const EncoderTable &encoders);

/// bash's arguments for running `script` on `request` (the encode's
/// arguments as segmentedEncode gives them).
std::vector<std::string> parallelPipelineArguments(const std::string &script, const StreamDecodeRequest &request,
                                                   const ParallelOptions &options, const EncoderTable &encoders);

/// Runs `options.script` on `request.input` as the engine's current process,
/// reading its phase lines for progress. It writes the side-by-side file
/// `request.output`, never MV-HEVC. Throws
/// ConversionError::toolNotFound "parallel-pipeline.sh not found",
/// ConversionError::decodingFailed "Parallel pipeline exited with code N"
/// (also after cancel()), and the launch error unchanged.
void decodeSBSParallel(PipelineEngine &engine, const StreamDecodeRequest &request, const ParallelOptions &options,
                       const ProgressReport &progress);

} // namespace kestrova::pipeline
