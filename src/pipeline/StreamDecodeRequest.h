#pragma once

#include "core/OutputOptions.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace kestrova::pipeline {

/// What the streaming decoders (the zero-disk pipe and the segment-parallel
/// script) are asked to turn into one side-by-side file.
struct StreamDecodeRequest {
  /// The interleaved Annex B stream (or FIFO); in dual-split mode the base
  /// view. Its directory is the work directory the tools run in.
  std::filesystem::path input;
  std::filesystem::path audioSource; ///< the source; its first audio stream, if any
  std::filesystem::path output;      ///< the SBS (or direct MV-HEVC) file
  bool rightFirst = false;           ///< the source stores the right eye first
  QualityPreset preset = QualityPreset::high;
  OutputCodec codec = OutputCodec::h265; ///< the streaming encoders always write HEVC
  OutputTarget target = OutputTarget::sbs3D;
  double duration = 0.0; ///< seconds to convert; drives the pipe's progress
  std::int64_t width = 1920;
  std::int64_t height = 1080;
  std::int64_t frameRateNum = 24000;
  std::int64_t frameRateDen = 1001;
  /// The streaming decoder helper the zero-disk pipe runs (ldecod-pipe or
  /// edge264-pipe: same command line, same output).
  std::string decoder = "ldecod-pipe";
};

/// The audio arguments of a streaming encode: AAC 5.1 for the Vision Pro
/// target, a copy of the source's track otherwise.
inline const char *streamAudioArguments(OutputTarget target) {
  return target == OutputTarget::visionPro ? "-c:a aac_at -b:a 448k -ac 6 -ar 48000" : "-c:a copy";
}

} // namespace kestrova::pipeline
