#pragma once

#include "PairDecoder.h"

#include <cstdint>
#include <vector>

namespace kestrova::helpers {

/// Writes each pair as ldecod-pipe does: the view-0 picture, then the view-1
/// picture, each planar Y, Cb, Cr at the cropped size without padding.
class PairWriter {
public:
  explicit PairWriter(int fd) : fd_(fd) {}
  /// False when the reader has gone (the write failed with EPIPE or another
  /// error): nothing more can be delivered.
  bool write(const ViewPair &pair);

private:
  int fd_;
  std::vector<std::uint8_t> buffer_;
};

} // namespace kestrova::helpers
