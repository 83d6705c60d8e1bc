#pragma once

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
  std::filesystem::path script;         ///< parallel-pipeline.sh, as the tool inventory found it
  bool directMVHEVC = false;            ///< the script writes MV-HEVC itself ("--mvhevc")
  bool streamMode = false;              ///< "--stream"
  std::int64_t estimatedStreamSize = 0; ///< "--estimated-size", in stream mode, when at least 1
  /// The MVC view file: the script splits both views itself ("--dual-split").
  std::optional<std::filesystem::path> dualSplitMvc;
};

/// The quality argument: the -q:v value for SBS output, the MV-HEVC quality
/// fraction ("0.88") for direct MV-HEVC.
std::string parallelQualityText(QualityPreset preset, bool directMVHEVC);

/// bash's arguments for running `script`: the script, the three paths, then
/// the options in their fixed order; "--decoder NAME" last when the
/// request's decoder is not ldecod-pipe.
std::vector<std::string> parallelPipelineArguments(const std::string &script, const StreamDecodeRequest &request,
                                                   const ParallelOptions &options);

/// Runs `options.script` on `request.input` as the
/// engine's current process, reading its phase lines for progress. Throws
/// ConversionError::toolNotFound "parallel-pipeline.sh not found",
/// ConversionError::decodingFailed "Parallel pipeline exited with code N"
/// (also after cancel()), and the launch error unchanged.
void decodeSBSParallel(PipelineEngine &engine, const StreamDecodeRequest &request, const ParallelOptions &options,
                       const ProgressReport &progress);

} // namespace kestrova::pipeline
