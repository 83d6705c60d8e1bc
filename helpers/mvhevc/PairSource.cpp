#include "PairSource.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace kestrova::mvhevc {
namespace {

// Copies one view's planes into the half of `frame` that starts `offsetX` luma samples in.
void placeView(const std::uint8_t *view, int width, int height, AVFrame &frame, int offsetX) {
  for (int plane = 0; plane < 3; ++plane) {
    const int shift = plane == 0 ? 0 : 1;
    const int planeWidth = width >> shift;
    const int planeHeight = height >> shift;
    std::uint8_t *target = frame.data[plane] + (offsetX >> shift);
    for (int row = 0; row < planeHeight; ++row) {
      std::memcpy(target + static_cast<std::ptrdiff_t>(row) * frame.linesize[plane], view, planeWidth);
      view += planeWidth;
    }
  }
}

} // namespace

PairSource::PairSource(int fd, const PairFormat &format, std::stop_token stop)
    : fd_(fd), format_(format), stop_(std::move(stop)) {
  if (format.viewWidth <= 0 || format.viewHeight <= 0 || format.viewWidth % 2 != 0 || format.viewHeight % 2 != 0) {
    throw InputError("a " + std::to_string(format.viewWidth) + "x" + std::to_string(format.viewHeight) +
                     " view is not a 4:2:0 picture; width and height must be even");
  }
  video_.width = format.viewWidth * 2;
  video_.height = format.viewHeight;
  video_.frameRateNum = format.frameRateNum;
  video_.frameRateDen = format.frameRateDen;
  video_.expectedFrames = format.expectedPairs;
  const auto viewBytes = static_cast<std::size_t>(format.viewWidth) * format.viewHeight * 3 / 2;
  pair_.resize(2 * viewBytes);
}

PairSource::~PairSource() = default;

bool PairSource::readWhole(std::uint8_t *buffer, std::size_t size) {
  std::size_t have = 0;
  while (have < size) {
    // A bounded wait, so that a stop is noticed while the decoder feeding us is slow or stuck.
    pollfd wait{fd_, POLLIN, 0};
    const int ready = ::poll(&wait, 1, 200);
    if (stop_.stop_requested()) {
      return false;
    }
    if (ready == 0 || (ready < 0 && errno == EINTR)) {
      continue;
    }
    const ssize_t n = ::read(fd_, buffer + have, size - have);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) {
        continue;
      }
      throw InputError(std::string("cannot read the frame pairs: ") + std::strerror(errno));
    }
    if (n == 0) {
      if (have == 0) {
        return false;
      }
      throw InputError("the frame pairs end inside pair " + std::to_string(pairs_ + 1) + ": " + std::to_string(have) +
                       " of its " + std::to_string(size) +
                       " bytes arrived; the decoder stopped early or the picture size is wrong");
    }
    have += static_cast<std::size_t>(n);
  }
  return true;
}

SharedFrame PairSource::next(const std::function<void(AudioPacket &&)> &) {
  if (ended_) {
    return nullptr;
  }
  if (!readWhole(pair_.data(), pair_.size())) {
    ended_ = true;
    return nullptr;
  }
  AVFrame *raw = av_frame_alloc();
  SharedFrame frame(raw, [](const AVFrame *f) {
    auto *owned = const_cast<AVFrame *>(f);
    av_frame_free(&owned);
  });
  raw->format = AV_PIX_FMT_YUV420P;
  raw->width = video_.width;
  raw->height = video_.height;
  if (av_frame_get_buffer(raw, 0) < 0) {
    throw InputError("out of memory for a side-by-side picture");
  }
  const auto viewBytes = pair_.size() / 2;
  const std::uint8_t *left = pair_.data() + (format_.rightFirst ? viewBytes : 0);
  const std::uint8_t *right = pair_.data() + (format_.rightFirst ? 0 : viewBytes);
  placeView(left, format_.viewWidth, format_.viewHeight, *raw, 0);
  placeView(right, format_.viewWidth, format_.viewHeight, *raw, format_.viewWidth);
  ++pairs_;
  return frame;
}

} // namespace kestrova::mvhevc
