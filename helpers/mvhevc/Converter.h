#pragma once

#include "MovWriter.h"
#include "PairSource.h"

#include <optional>
#include <ostream>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>

namespace kestrova::mvhevc {

/// Thrown when a stop was requested (SIGTERM, SIGINT) before the output was complete.
class Cancelled : public std::runtime_error {
public:
  Cancelled() : std::runtime_error("cancelled") {}
};

/// The command line, checked.
struct ConversionRequest {
  std::string input; ///< "-": decoded view pairs on standard input, laid out as `pairs` says
  std::optional<PairFormat> pairs;
  std::string soundSource; ///< the file whose first audio track goes with the pairs
  std::string output;
  double quality = 0.85;         ///< 0 < quality <= 1
  std::optional<int> capMbps;    ///< whole stream, both views together
  std::string preset = "medium"; ///< libx265 preset
  std::string dumpPrefix;        ///< when set, the encodes are written beside it as Annex B
  StereoMetadata stereo;
};

/// Parses `INPUT OUTPUT QUALITY [CAP]` and the stereo options `--baseline-mm MM`,
/// `--hfov-degrees DEGREES` and `--disparity-adjustment N` (ten-thousandths of the picture
/// width, positive moves the scene away). INPUT `-` reads view pairs from standard input and
/// takes `--view-size WxH` and `--frame-rate NUM[/DEN]` (both required), `--eye-order
/// left-first|right-first`, `--sound FILE` and `--pairs N` (the expected count, for progress).
/// Throws std::invalid_argument with a message for the user.
ConversionRequest parseArguments(int argc, const char *const *argv);

/// Converts a side-by-side file, or view pairs on standard input, into a two-view MV-HEVC movie. Progress lines go to
/// `progress`, remarks the user should see but that do not stop the conversion (sound left out) to `notes`. The movie
/// is written under a temporary name beside the output and renamed when complete; on any failure or stop no output is
/// left behind.
void convert(const ConversionRequest &request, std::ostream &progress, std::ostream &notes, std::stop_token stop);

/// How this build encodes the two views, for the first line of the converter's output.
std::string_view encoderDescription();

} // namespace kestrova::mvhevc
