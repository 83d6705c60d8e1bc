#pragma once

#include "pipeline/EncoderTable.h"
#include "pipeline/StreamDecodeRequest.h"
#include "pipeline/ToolOutputParsers.h"
#include "tools/ProcessPipeline.h"

#include <cstdint>
#include <string>

namespace kestrova::pipeline {

class PipelineEngine;

/// The two stages that encode a frame-pair stream side by side: yuv_hstack,
/// which reads the pairs on its standard input and puts the views side by
/// side, and ffmpeg, which reads its output and encodes it into
/// `request.output` with the sound of `request.audioSource`.
struct SideBySideEncode {
  tools::ProcessLaunch stacker;
  tools::ProcessLaunch encoder;
};

/// yuv_hstack (`yuvHstack`, eyes of `width` x `height`, swapped when
/// `rightFirst`) and ffmpeg reading its pictures raw from standard input at
/// `frameRateNum`/`frameRateDen`; the caller appends the encoder's further words.
SideBySideEncode rawPairsEncode(const std::string &yuvHstack, const std::string &ffmpeg, std::int64_t width,
                                std::int64_t height, std::int64_t frameRateNum, std::int64_t frameRateDen,
                                bool rightFirst);

/// The video words of every streamed side-by-side encode into `output`
/// (codec, quality, rate cap, stream tags, yuv420p), written for VideoToolbox,
/// without the container's flags.
std::vector<std::string> streamedVideoArguments(QualityPreset preset, OutputCodec codec,
                                                const std::filesystem::path &output);

/// The side-by-side encode of `request`, with the same codec, quality, rate
/// cap, tags and sound as every other road (the encoder words go through
/// `encoders`), so the road a run takes never shows in its output.
SideBySideEncode sideBySideEncode(const StreamDecodeRequest &request, const std::string &yuvHstack,
                                  const std::string &ffmpeg, const EncoderTable &encoders);

/// The streaming decoder's launch: it decodes `request.input` (a file or a
/// FIFO) and writes the view pairs to its standard output.
tools::ProcessLaunch streamDecoderLaunch(const std::string &decoder, const StreamDecodeRequest &request);

/// A pipeline whose stages come from `engine`, so that a cancel reaches them.
tools::ProcessPipeline enginePipeline(PipelineEngine &engine);

/// Frames per view expected in `seconds` at num/den, to the nearest picture (a duration
/// rounded to milliseconds or 90 kHz ticks lands just below or above it), at least 1.
std::int64_t estimatedFramesPerView(double seconds, std::int64_t frameRateNum, std::int64_t frameRateDen);

/// Decodes the interleaved stream at `request.input` and encodes it side by
/// side into `request.output` without writing decoded pictures anywhere:
/// decoder | yuv_hstack | ffmpeg, a ProcessPipeline whose stages the engine
/// can cancel. The decoder's pair counts drive progress.
/// Throws ConversionError::toolNotFound when a program is missing,
/// ConversionError::cancelled after cancel(), decodingFailed or
/// encodingFailed naming the stage that failed in its own words, and
/// file-system and launch errors unchanged.
void decodeSBSPipe(PipelineEngine &engine, const StreamDecodeRequest &request, const ProgressReport &progress);

} // namespace kestrova::pipeline
