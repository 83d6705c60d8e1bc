#pragma once

// Two-view streams in the form the JM decoder's double reads, with a real
// sequence parameter set in front of every IDR picture so that ldecod-pipe
// can read the picture size from it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrova::streaming::test {

using Bytes = std::vector<std::uint8_t>;

/// The fields of a sequence parameter set that decide the decoded picture size.
struct SpsFields {
  int profile = 100; ///< 100 (High) writes the chroma and bit-depth fields
  int chromaFormat = 1;
  int bitDepthLuma = 8;
  int widthInMbs = 4;
  int heightInMapUnits = 2;
  bool frameMbsOnly = true;
  int cropRight = 0, cropBottom = 0; ///< in crop units
  bool scalingMatrix = false;        ///< writes non-default scaling lists
  int pocType = 0;
};

/// A type-7 NAL unit (start code, header, escaped payload).
Bytes sequenceParameterSet(const SpsFields &fields);

/// A picture stream of `frames` frames of `width` x `height` (multiples of 16)
/// with an IDR picture every `gop` frames.
struct MvcStreams {
  Bytes base;        ///< access units opened by delimiters of type 9
  Bytes mvc;         ///< access units opened by delimiters of type 24
  Bytes interleaved; ///< base and MVC units alternating, without delimiters
};
MvcStreams makeStreams(int width, int height, int frames, int gop);

void writeBytes(const std::filesystem::path &path, const Bytes &bytes);

} // namespace kestrova::streaming::test
