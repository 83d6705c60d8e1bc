#pragma once

#include "core/OutputOptions.h"
#include "pipeline/StreamDecodeRequest.h"
#include "pipeline/ToolOutputParsers.h"

#include <string>

namespace kestrova::pipeline {

class PipelineEngine;

/// The programs of the one-encode road.
struct DirectTools {
  std::string decoder;   ///< the streaming decoder: ldecod-pipe or edge264-pipe
  std::string converter; ///< MVHEVCConverter
  /// The shell command that also encodes the pairs side by side (see
  /// sideBySideEncodeCommand), when a side-by-side file is kept; else empty.
  std::string sideBySide;
};

/// MVHEVCConverter's arguments for view pairs on standard input: `-`, the
/// output, the preset's quality and cap, the view size, frame rate, eye order,
/// the sound's source and the expected pair count (for its progress lines).
std::vector<std::string> pairInputArguments(const StreamDecodeRequest &request);

/// The bash script "decoder | MVHEVCConverter -" run from the work
/// directory, every path shell-quoted. `request.output` is the MV-HEVC file.
/// With `tools.sideBySide` the decoder's pairs pass through tee into that
/// command too, whose encoder writes its messages to "side_by_side.log".
/// The script's last line on standard error is "direct-pipeline: status"
/// with the exit status of the decoder and the converter, then of tee and the
/// side-by-side command when there are. No final newline.
std::string directPipelineScript(const StreamDecodeRequest &request, const DirectTools &tools);

/// Decodes the interleaved stream at `request.input` (a file or FIFO) and
/// hands the view pairs straight to MVHEVCConverter, which encodes them once
/// into `request.output` with the sound of `request.audioSource`. Writes
/// "direct_pipeline.sh" into the work directory and runs it with bash as the
/// engine's current process. With `request.keptSideBySide` the same pairs
/// are also encoded side by side into that file, at the same time. The
/// converter's "Frame" lines drive progress
/// from 0.3 to 0.98 in the one stage `convertingMVHEVC`; its own remarks
/// reach the normal log.
/// Throws ConversionError::toolNotFound when a program is missing,
/// ConversionError::encodingFailed naming the converter's or the
/// side-by-side encoder's reason (decodingFailed: the decoder's) when the
/// pipeline fails, and launch errors unchanged.
void encodeDirectMvhevc(PipelineEngine &engine, const StreamDecodeRequest &request, const ProgressReport &progress);

} // namespace kestrova::pipeline
