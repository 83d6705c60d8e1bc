#pragma once

#include "pipeline/EncoderTable.h"
#include "pipeline/StreamDecodeRequest.h"
#include "pipeline/ToolOutputParsers.h"

#include <cstdint>
#include <string>

namespace kestrova::pipeline {

class PipelineEngine;

/// The three programs of the zero-disk pipe.
struct PipeTools {
  std::string ldecodPipe; ///< the streaming decoder: ldecod-pipe or edge264-pipe
  std::string yuvHstack;
  std::string ffmpeg;
};

/// The shell command "yuv_hstack | ffmpeg" that encodes a frame-pair stream
/// on its standard input side by side into `request.output`, with the sound
/// of `request.audioSource`; every path shell-quoted, the encoder arguments
/// (the same as the disk-based encode's) passed through `encoders`.
std::string sideBySideEncodeCommand(const StreamDecodeRequest &request, const std::string &yuvHstack,
                                    const std::string &ffmpeg, const EncoderTable &encoders);

/// The four-line bash script "decoder | yuv_hstack | ffmpeg" run from
/// the work directory (the encode as sideBySideEncodeCommand). No final
/// newline.
std::string pipePipelineScript(const StreamDecodeRequest &request, const PipeTools &tools,
                               const EncoderTable &encoders);

/// Frames per view expected in `seconds` at num/den: the whole part, at least 1.
std::int64_t estimatedFramesPerView(double seconds, std::int64_t frameRateNum, std::int64_t frameRateDen);

/// Decodes the interleaved stream at `request.input` and encodes it side by
/// side into `request.output` without writing decoded pictures anywhere:
/// writes "pipe_pipeline.sh" into the work directory and runs it with bash
/// as the engine's current process.
/// Throws ConversionError::toolNotFound when a program is missing,
/// ConversionError::decodingFailed "Pipe pipeline exited with code N" when
/// the pipeline fails (also after cancel()), and file-system and launch
/// errors unchanged.
void decodeSBSPipe(PipelineEngine &engine, const StreamDecodeRequest &request, const ProgressReport &progress);

} // namespace kestrova::pipeline
