#pragma once

#include "Arguments.h"
#include "Chapters.h"

#include <cstdint>
#include <utility>
#include <vector>

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

/// Converts a side-by-side file, or view pairs on standard input, into a two-view MV-HEVC movie with the sound tracks
/// and chapters the request names. Progress lines go to `progress`, remarks the user should see but that do not stop
/// the conversion (sound left out or converted) to `notes`. The movie
/// is written under a temporary name beside the output and renamed when complete; on any failure or stop no output is
/// left behind.
void convert(const ConversionRequest &request, std::ostream &progress, std::ostream &notes, std::stop_token stop);

/// The movie timescale and picture duration for a frame rate, the timescale kept at 600 or more
/// (the resolution QuickTime editors expect).
std::pair<std::uint32_t, std::uint32_t> movieTiming(int rateNum, int rateDen);

/// The chapters that start within `seconds` of pictures, the first moved to the start; what
/// changes gets a remark to `notes`.
std::vector<Chapter> chaptersWithin(std::vector<Chapter> chapters, double seconds, std::ostream &notes);

/// How this build encodes the two views, for the first line of the converter's output.
std::string_view encoderDescription();

} // namespace kestrova::mvhevc
