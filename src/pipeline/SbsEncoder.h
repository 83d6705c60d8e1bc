#pragma once

#include "core/OutputOptions.h"
#include "pipeline/ToolOutputParsers.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::pipeline {

class PipelineEngine;

/// What one side-by-side encode of two decoded views needs.
struct SbsEncodeRequest {
  std::filesystem::path leftView;    ///< planar 4:2:0 frames of the left eye
  std::filesystem::path rightView;   ///< planar 4:2:0 frames of the right eye
  std::filesystem::path audioSource; ///< the source being converted; its first audio stream, if any
  std::filesystem::path output;      ///< its extension decides the container rules
  QualityPreset preset = QualityPreset::medium;
  OutputCodec codec = OutputCodec::h264;
  OutputTarget target = OutputTarget::sbs3D; ///< decides the sound (streamAudioArguments)
  double duration = 0.0;                     ///< seconds being converted; drives the progress fraction
  std::int64_t width = 0;                    ///< of one view
  std::int64_t height = 0;
  std::int64_t frameRateNum = 0;
  std::int64_t frameRateDen = 1;
  std::optional<double> pictureSeconds; ///< the views' length, where known (soundEndArguments)
};

/// ffmpeg's arguments for the encode, written for VideoToolbox (the encoder
/// table translates them for the machine at hand).
std::vector<std::string> sbsEncodeArguments(const SbsEncodeRequest &request);

/// Stacks the two views side by side (left view on the left half) with the
/// source's first audio track, if it has one, into `request.output`. ffmpeg is the engine's
/// current process, so cancel() ends it; its standard error drives progress
/// over 0.7-0.85. A non-zero exit with the output present only logs a
/// warning. Throws ConversionError (toolNotFound, encodingFailed) or the
/// launch error.
void encodeSBS(PipelineEngine &engine, const SbsEncodeRequest &request, const ProgressReport &progress);

} // namespace kestrova::pipeline
