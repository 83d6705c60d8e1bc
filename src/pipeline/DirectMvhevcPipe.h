#pragma once

#include "core/OutputOptions.h"
#include "pipeline/StreamDecodeRequest.h"
#include "pipeline/ToolOutputParsers.h"

#include <string>

namespace kestrova::pipeline {

class PipelineEngine;

/// The two programs of the one-encode road.
struct DirectTools {
  std::string decoder;   ///< the streaming decoder: ldecod-pipe or edge264-pipe
  std::string converter; ///< MVHEVCConverter
};

/// MVHEVCConverter's arguments for view pairs on standard input: `-`, the
/// output, the preset's quality and cap, the view size, frame rate, eye order,
/// the sound's source and the expected pair count (for its progress lines).
std::vector<std::string> pairInputArguments(const StreamDecodeRequest &request);

/// The bash script "decoder | MVHEVCConverter -" run from the work
/// directory, every path shell-quoted. `request.output` is the MV-HEVC file.
/// No final newline.
std::string directPipelineScript(const StreamDecodeRequest &request, const DirectTools &tools);

/// Decodes the interleaved stream at `request.input` (a file or FIFO) and
/// hands the view pairs straight to MVHEVCConverter, which encodes them once
/// into `request.output` with the sound of `request.audioSource`. Writes
/// "direct_pipeline.sh" into the work directory and runs it with bash as the
/// engine's current process. The converter's "Frame" lines drive progress
/// from 0.3 to 0.98 in the one stage `convertingMVHEVC`; its own remarks
/// reach the normal log.
/// Throws ConversionError::toolNotFound when a program is missing,
/// ConversionError::encodingFailed naming the converter's or the decoder's
/// reason when the pipeline fails, and launch errors unchanged.
void encodeDirectMvhevc(PipelineEngine &engine, const StreamDecodeRequest &request, const ProgressReport &progress);

} // namespace kestrova::pipeline
