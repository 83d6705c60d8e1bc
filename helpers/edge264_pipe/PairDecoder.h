#pragma once

#include "NalUnitSource.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

struct Edge264Decoder;
struct Edge264Frame;

namespace kestrova::helpers {

/// A stream the decoder does not handle (interlaced coding, samples above 8
/// bits, a chroma format other than 4:2:0, a feature it rejects). `what()`
/// says which, in words for the user.
class UnsupportedStream : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// A stream the decoder found invalid, or one it stopped making progress on.
class DecodeError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// Both views of one picture, cropped, 8-bit 4:2:0. Valid only during the
/// call that receives it.
struct ViewPair {
  const Edge264Frame &frame;
};

/// Decodes a two-view stream NAL unit by NAL unit with edge264 and hands out
/// each picture with its second view, in output order. Pictures that come
/// out without their second view are counted and dropped.
class PairDecoder {
public:
  /// Slices fed without any picture coming out before the decoder is taken
  /// to have stalled. Far above what the largest picture buffer holds back
  /// (16 pictures of two views, even at dozens of slices each).
  static constexpr std::uint64_t kStallSlices = 4096;

  /// Receives one pair; returns false to stop decoding (the reader has gone).
  using OnPair = std::function<bool(const ViewPair &)>;

  /// `threads`: edge264's worker threads, 0 for none, -1 for one per core.
  PairDecoder(int threads, OnPair onPair, std::uint64_t stallSlices = kStallSlices);
  ~PairDecoder();
  PairDecoder(const PairDecoder &) = delete;
  PairDecoder &operator=(const PairDecoder &) = delete;

  /// Decodes one unit (from its header byte). Sequence parameter sets are
  /// checked before the decoder sees them. False once `onPair` asked to
  /// stop. Throws UnsupportedStream and DecodeError.
  bool feed(NalUnit unit);
  /// Outputs every picture still held. False when `onPair` asked to stop.
  /// Throws like feed().
  bool finish();

  std::uint64_t pairs() const { return pairs_; }
  /// Pictures of the base view that came out without a second view.
  std::uint64_t unpaired() const { return unpaired_; }

private:
  struct Free {
    void operator()(Edge264Decoder *decoder) const;
  };
  std::unique_ptr<Edge264Decoder, Free> decoder_;
  OnPair onPair_;
  std::uint64_t stallSlices_;
  std::uint64_t units_ = 0;
  std::uint64_t slicesSincePicture_ = 0;
  std::uint64_t pairs_ = 0;
  std::uint64_t unpaired_ = 0;
  bool stopped_ = false;
  /// The unit being decoded, laid out as the decoder reads it (see padded()).
  struct alignas(16) Block {
    std::uint8_t bytes[16];
  };
  std::vector<Block> padded_;

  /// `unit` copied into padded_: a start code right before it and zeros
  /// after it, in 16-byte aligned memory. The decoder reads the two bytes
  /// before a unit and whole aligned blocks past its end; a unit handed out
  /// from the middle of a reader's buffer gives neither (its start code may
  /// have been dropped when the buffer moved on), and a stray 00 00 before
  /// it reads as an escape and breaks the unit.
  NalUnit padded(NalUnit unit);

  /// Hands out every picture ready; how many came out.
  int drain();
  void check(int result, NalUnit unit) const;
};

/// Why a sequence parameter set (type 7 or 15, from the header byte) cannot
/// be decoded here, or an empty string when it can.
std::string unsupportedFeature(NalUnit unit);

} // namespace kestrova::helpers
