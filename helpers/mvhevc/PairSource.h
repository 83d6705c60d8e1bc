#pragma once

#include "FrameSource.h"

#include <cstdint>
#include <memory>
#include <stop_token>

namespace kestrova::mvhevc {

/// How the frame pairs on a descriptor are laid out.
struct PairFormat {
  int viewWidth = 0;
  int viewHeight = 0;
  int frameRateNum = 0;
  int frameRateDen = 1;
  bool rightFirst = false;        ///< the first picture of each pair is the right eye's
  std::int64_t expectedPairs = 0; ///< for progress; 0 when unknown
};

/// Decoded view pairs as a decoder writes them: for each picture, one 8-bit 4:2:0 picture of the
/// first view then one of the second, planes whole and unpadded. Each pair becomes one
/// side-by-side picture, left eye on the left, so the encoders take it as they take a decoded
/// side-by-side file, and a second consumer (a side-by-side encoder) can share the same picture.
class PairSource : public PictureSource {
public:
  /// Reads pairs from `fd` (not owned) until its end. `stop` ends a wait for input.
  PairSource(int fd, const PairFormat &format, std::stop_token stop);
  ~PairSource() override;

  const VideoInfo &video() const override { return video_; }
  /// The next side-by-side picture, or null at the end of input. Throws InputError when the
  /// input ends inside a pair or cannot be read.
  SharedFrame next(const std::function<void(AudioPacket &&)> &) override;

private:
  /// Fills `buffer` from the input; false when the input ended before the first byte.
  bool readWhole(std::uint8_t *buffer, std::size_t size);

  int fd_;
  PairFormat format_;
  std::stop_token stop_;
  VideoInfo video_;
  std::vector<std::uint8_t> pair_;
  std::int64_t pairs_ = 0;
  bool ended_ = false;
};

} // namespace kestrova::mvhevc
