#pragma once

#include "core/OutputOptions.h"
#include "pipeline/StreamDecodeRequest.h"
#include "pipeline/ToolOutputParsers.h"

#include <string>

namespace kestrova::pipeline {

class PipelineEngine;

/// MVHEVCConverter's arguments for view pairs on standard input: `-`, the
/// output, the preset's quality and cap, the view size, frame rate, eye order,
/// the sound's source and the expected pair count (for its progress lines).
std::vector<std::string> pairInputArguments(const StreamDecodeRequest &request);

/// Decodes the interleaved stream at `request.input` (a file or FIFO) and
/// hands the view pairs straight to MVHEVCConverter, which encodes them once
/// into `request.output` with the sound of `request.audioSource`:
/// decoder | MVHEVCConverter -, a ProcessPipeline whose stages the engine
/// can cancel. With `request.keptSideBySide` the decoder's pairs are copied
/// to yuv_hstack | ffmpeg too, which encode them side by side into that file
/// at the same time. The converter's "Frame" lines drive progress from 0.3
/// to 0.98 in the one stage `convertingMVHEVC`; its own remarks reach the
/// normal log.
/// Throws ConversionError::toolNotFound when a program is missing,
/// ConversionError::cancelled after cancel(), encodingFailed naming the
/// converter's or a side-by-side stage's reason (decodingFailed: the
/// decoder's) when a stage fails, and launch errors unchanged.
void encodeDirectMvhevc(PipelineEngine &engine, const StreamDecodeRequest &request, const ProgressReport &progress);

} // namespace kestrova::pipeline
