#include "SliceRewriter.h"

#include "Bitstream.h"

#include <bit>

namespace kestrova::mvhevc {
namespace {

unsigned ueLength(std::uint32_t value) {
  return 2 * static_cast<unsigned>(std::bit_width(std::uint64_t{value} + 1)) - 1;
}

unsigned ceilLog2(std::uint32_t value) {
  return value <= 1 ? 0 : static_cast<unsigned>(std::bit_width(value - 1));
}

} // namespace

SliceRewriter::SliceRewriter(const SpsInfo &sps, const PpsInfo &pps, std::uint32_t layerOnePpsId)
    : sps_(sps), pps_(pps), newPpsId_(layerOnePpsId) {
  if (sps.log2MaxPocLsb % 8 != 0) {
    throw BitstreamError("picture order count LSBs must be a whole number of bytes");
  }
  // Growth without padding: the longer PPS id and inter_layer_pred_enabled_flag.
  const auto growth = static_cast<int>(ueLength(newPpsId_)) - static_cast<int>(ueLength(pps.ppsId)) + 1;
  padding_ = static_cast<std::uint32_t>(((8 - growth % 8) % 8 + 8) % 8);
  if (padding_ + pps.numExtraSliceHeaderBits > 7) {
    throw BitstreamError("no room for slice header padding bits");
  }
}

NalBytes SliceRewriter::rewrite(std::span<const std::uint8_t> nal) const {
  const auto type = nalTypeOf(nal);
  const auto temporalIdPlus1 = static_cast<std::uint8_t>(nal[1] & 7);
  const auto rbsp = rbspOf(nal);
  BitReader in(rbsp);
  BitWriter out;

  const bool firstSlice = in.flag();
  out.flag(firstSlice);
  if (isIrap(type)) {
    out.copy(in, 1); // no_output_of_prior_pics_flag
  }
  in.ue();
  out.ue(newPpsId_);
  bool dependent = false;
  if (!firstSlice) {
    if (pps_.dependentSliceSegmentsEnabled) {
      dependent = in.flag();
      out.flag(dependent);
    }
    out.copy(in, ceilLog2(sps_.pictureSizeInCtbs())); // slice_segment_address
  }
  if (dependent) {
    // A dependent segment repeats nothing of the header; only the PPS id changed, and that
    // cannot be padded here. Our encodes never produce them.
    throw BitstreamError("dependent slice segments are not supported");
  }
  // discardable_flag, cross_layer_bla_flag and reserved bits: all zero.
  out.bits(0, padding_);
  out.copy(in, pps_.numExtraSliceHeaderBits);
  out.ue(in.ue()); // slice_type
  if (pps_.outputFlagPresent) {
    out.copy(in, 1);
  }
  if (sps_.separateColourPlane) {
    out.copy(in, 2);
  }
  if (isIdr(type)) {
    // Layer-1 IDR slices carry POC LSBs; an IDR picture's POC is 0.
    out.bits(0, sps_.log2MaxPocLsb);
  } else {
    out.copy(in, sps_.log2MaxPocLsb);
    const auto start = in.position();
    const auto setCount = static_cast<std::uint32_t>(sps_.shortTermSetDeltaCounts.size());
    const bool fromSps = in.flag();
    if (!fromSps) {
      skipShortTermRefPicSet(in, setCount, setCount, sps_.shortTermSetDeltaCounts);
    } else {
      in.skip(ceilLog2(setCount));
    }
    const auto length = in.position() - start;
    BitReader again(rbsp);
    again.skip(start);
    out.copy(again, length);
    if (sps_.temporalMvpEnabled) {
      out.copy(in, 1);
    }
  }
  out.flag(false); // inter_layer_pred_enabled_flag
  out.copy(in, in.remaining());
  return makeNal(type, 1, temporalIdPlus1, out.bytes());
}

} // namespace kestrova::mvhevc
