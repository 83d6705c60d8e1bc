#pragma once

#include "NalUnit.h"
#include "ParameterSets.h"

#include <cstdint>
#include <span>

namespace kestrova::mvhevc {

/// Turns the slice segments of a single-layer encode into slice segments of layer 1.
///
/// The new header names the layer-1 PPS, says that the slice uses no inter-layer prediction
/// and, for IDR pictures, carries the picture order count LSBs that layer-1 IDR slices have.
/// The header grows by a whole number of bytes (padded with the PPS's extra reserved bits), so
/// the rest of the header and the slice data are copied unchanged and entry point offsets stay
/// valid.
class SliceRewriter {
public:
  /// `sps` and `pps` describe the single-layer stream; `layerOnePpsId` is the id its PPS gets in
  /// layer 1. Throws BitstreamError when no whole-byte padding exists (POC LSBs not a multiple of 8).
  SliceRewriter(const SpsInfo &sps, const PpsInfo &pps, std::uint32_t layerOnePpsId);

  /// Extra reserved slice header bits the layer-1 PPS must announce.
  std::uint32_t paddingBits() const { return padding_; }

  /// Rewrites one slice segment NAL unit of the single-layer stream.
  NalBytes rewrite(std::span<const std::uint8_t> nal) const;

private:
  SpsInfo sps_;
  PpsInfo pps_;
  std::uint32_t newPpsId_;
  std::uint32_t padding_ = 0;
};

} // namespace kestrova::mvhevc
