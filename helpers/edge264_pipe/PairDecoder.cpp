#include "PairDecoder.h"

#include "nal/SequenceParameterSet.h"

#include <cerrno>
#include <cstring>
#include <edge264.h>

namespace kestrova::helpers {
namespace {

constexpr std::uint8_t kSps = 7, kPps = 8, kSubsetSps = 15, kMvcSlice = 20;

std::uint8_t typeOf(NalUnit unit) {
  return unit[0] & 0x1F;
}

bool isSlice(std::uint8_t type) {
  return type == 1 || type == 5 || type == kMvcSlice;
}

// Units whose failure changes the pictures; the decoder skips the others
// (delimiters, SEI, the MVC view's own delimiter), as the JM decoder does.
bool mattersForPictures(std::uint8_t type) {
  return isSlice(type) || type == kSps || type == kPps || type == kSubsetSps;
}

// Retries of a unit the decoder refuses for want of output room while no
// picture comes out, before it counts as stalled.
constexpr int kFullRetries = 64;

} // namespace

std::string unsupportedFeature(NalUnit unit) {
  if (unit.size() < 2)
    return {};
  // A subset set opens with the same fields as a plain one.
  const auto format = nal::parseSequenceParameterSet(unit.subspan(1));
  if (!format)
    return {}; // the decoder itself judges a set we cannot read
  if (!format->progressive)
    return "interlaced coding (field or MBAFF pictures)";
  if (format->bitDepthLuma != 8 || format->bitDepthChroma != 8)
    return "samples of more than 8 bits";
  if (format->chromaFormat != 1)
    return "a chroma format other than 4:2:0";
  return {};
}

void PairDecoder::Free::operator()(Edge264Decoder *decoder) const {
  edge264_free(&decoder);
}

PairDecoder::PairDecoder(int threads, OnPair onPair, std::uint64_t stallSlices)
    : decoder_(edge264_alloc(threads, nullptr, nullptr, 0, nullptr, nullptr, nullptr)), onPair_(std::move(onPair)),
      stallSlices_(stallSlices) {
  if (!decoder_)
    throw DecodeError("cannot set up the decoder (out of memory)");
}

PairDecoder::~PairDecoder() = default;

NalUnit PairDecoder::padded(NalUnit unit) {
  constexpr std::size_t kFront = sizeof(Block), kBack = 2 * sizeof(Block);
  padded_.assign((kFront + unit.size() + kBack + sizeof(Block) - 1) / sizeof(Block), Block{});
  auto *bytes = reinterpret_cast<std::uint8_t *>(padded_.data());
  bytes[kFront - 1] = 1; // ... 00 00 01, the start code the unit followed
  std::memcpy(bytes + kFront, unit.data(), unit.size());
  return NalUnit(bytes + kFront, unit.size());
}

int PairDecoder::drain() {
  int count = 0;
  Edge264Frame frame;
  while (!stopped_ && edge264_get_frame(decoder_.get(), &frame, 0) == 0) {
    ++count;
    slicesSincePicture_ = 0;
    if (frame.bit_depth_Y != 8 || frame.bit_depth_C != 8)
      throw UnsupportedStream("samples of more than 8 bits");
    if (frame.samples_mvc[0] == nullptr) {
      ++unpaired_;
      continue;
    }
    ++pairs_;
    if (!onPair_(ViewPair{frame}))
      stopped_ = true;
  }
  return count;
}

void PairDecoder::check(int result, NalUnit unit) const {
  const std::uint8_t type = typeOf(unit);
  if (result == ENOMEM)
    throw DecodeError("out of memory");
  if (!mattersForPictures(type))
    return;
  if (result == ENOTSUP)
    throw UnsupportedStream("a coding feature the fast decoder lacks (NAL unit " + std::to_string(units_) + ", type " +
                            std::to_string(type) + ")");
  if (result == EBADMSG)
    throw DecodeError("invalid data in NAL unit " + std::to_string(units_) + " (type " + std::to_string(type) + ")");
}

bool PairDecoder::feed(NalUnit unit) {
  if (unit.empty() || stopped_)
    return !stopped_;
  ++units_;
  const std::uint8_t type = typeOf(unit);
  if (type == kSps || type == kSubsetSps)
    if (auto feature = unsupportedFeature(unit); !feature.empty())
      throw UnsupportedStream(feature);
  if (isSlice(type) && ++slicesSincePicture_ > stallSlices_)
    throw DecodeError("the decoder stalled: no picture after " + std::to_string(stallSlices_) + " slices");
  const NalUnit copy = padded(unit);
  for (int full = 0;;) {
    const int result = edge264_decode_NAL(decoder_.get(), copy.data(), copy.data() + copy.size(), nullptr, nullptr);
    const int out = drain();
    if (stopped_)
      return false;
    if (result != ENOBUFS) {
      check(result, unit);
      return true;
    }
    full = out > 0 ? 0 : full + 1;
    if (full > kFullRetries)
      throw DecodeError("the decoder stalled: its picture buffer stays full");
  }
}

bool PairDecoder::finish() {
  static constexpr std::uint8_t kNothing = 0;
  for (int idle = 0;;) {
    const int result = edge264_decode_NAL(decoder_.get(), &kNothing, &kNothing, nullptr, nullptr);
    const int out = drain();
    if (stopped_)
      return false;
    if (result == ENODATA)
      return true;
    idle = out > 0 ? 0 : idle + 1;
    if (idle > kFullRetries)
      throw DecodeError("the decoder stalled at the end of the stream");
  }
}

} // namespace kestrova::helpers
