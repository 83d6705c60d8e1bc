#pragma once

#include "core/OutputOptions.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrova::pipeline {

/// What the streaming decoders (the zero-disk pipe and the segment-parallel
/// script) are asked to turn into one side-by-side file.
struct StreamDecodeRequest {
  /// The interleaved Annex B stream (or FIFO); in dual-split mode the base
  /// view.
  std::filesystem::path input;
  /// The run's work directory: the tools run in it and put their
  /// intermediates there.
  std::filesystem::path workDirectory;
  std::filesystem::path audioSource; ///< the source; its first audio stream, if any
  std::filesystem::path output;      ///< the SBS (or direct MV-HEVC) file
  /// On the one-encode road: the side-by-side file the user keeps, encoded
  /// from the same decoded pairs; empty when none is kept.
  std::filesystem::path keptSideBySide;
  bool rightFirst = false; ///< the source stores the right eye first
  QualityPreset preset = QualityPreset::high;
  OutputCodec codec = OutputCodec::h265; ///< HEVC whatever is asked for when the output is .mov
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

/// The audio arguments of every side-by-side encode: AAC 5.1 for the Vision
/// Pro target (the MV-HEVC converter takes AAC only and drops any other
/// track), a copy of the source's track otherwise.
inline const char *streamAudioArguments(OutputTarget target) {
  return target == OutputTarget::visionPro ? "-c:a aac_at -b:a 448k -ac 6 -ar 48000" : "-c:a copy";
}

/// streamAudioArguments as separate arguments.
inline std::vector<std::string> streamAudioArgumentList(OutputTarget target) {
  if (target == OutputTarget::visionPro)
    return {"-c:a", "aac_at", "-b:a", "448k", "-ac", "6", "-ar", "48000"};
  return {"-c:a", "copy"};
}

} // namespace kestrova::pipeline
