#include "PairWriter.h"

#include <cerrno>
#include <cstring>
#include <edge264.h>
#include <unistd.h>

namespace kestrova::helpers {
namespace {

std::uint8_t *copyPlane(std::uint8_t *to, const std::uint8_t *from, int width, int height, int stride) {
  for (int row = 0; row < height; ++row, to += width)
    std::memcpy(to, from + static_cast<std::ptrdiff_t>(row) * stride, static_cast<std::size_t>(width));
  return to;
}

std::uint8_t *copyView(std::uint8_t *to, const Edge264Frame &frame, const std::uint8_t *const planes[3]) {
  to = copyPlane(to, planes[0], frame.width_Y, frame.height_Y, frame.stride_Y);
  to = copyPlane(to, planes[1], frame.width_C, frame.height_C, frame.stride_C);
  return copyPlane(to, planes[2], frame.width_C, frame.height_C, frame.stride_C);
}

} // namespace

bool PairWriter::write(const ViewPair &pair) {
  const Edge264Frame &frame = pair.frame;
  const std::size_t view = static_cast<std::size_t>(frame.width_Y) * static_cast<std::size_t>(frame.height_Y) +
                           2u * static_cast<std::size_t>(frame.width_C) * static_cast<std::size_t>(frame.height_C);
  // One contiguous copy per pair: the planes have padded strides, and a
  // single write keeps the count of system calls to a few per pair.
  buffer_.resize(2 * view);
  copyView(copyView(buffer_.data(), frame, frame.samples), frame, frame.samples_mvc);
  for (std::size_t done = 0; done < buffer_.size();) {
    const ssize_t wrote = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (wrote < 0 && errno == EINTR)
      continue;
    if (wrote <= 0)
      return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

} // namespace kestrova::helpers
