#pragma once

#include "NalUnit.h"
#include "ParameterSets.h"

#include <cstdint>
#include <span>

namespace kestrova::mvhevc {

/// Turns the slice segments of a single-layer encode into slice segments of layer 1.
///
/// The new header names the layer-1 PPS (which announces no extra header bits), says that the
/// slice uses no inter-layer prediction and, for IDR pictures, carries the picture order count
/// LSBs that layer-1 IDR slices have. The header is written anew up to its byte alignment; the
/// slice data is copied unchanged, so entry point offsets stay valid.
class SliceRewriter {
public:
  /// `sps` and `pps` describe the single-layer stream; `layerOnePpsId` is the id its PPS gets in
  /// layer 1.
  SliceRewriter(const SpsInfo &sps, const PpsInfo &pps, std::uint32_t layerOnePpsId);

  /// Rewrites one slice segment NAL unit of the single-layer stream.
  NalBytes rewrite(std::span<const std::uint8_t> nal) const;

private:
  SpsInfo sps_;
  PpsInfo pps_;
  std::uint32_t newPpsId_;
};

} // namespace kestrova::mvhevc
