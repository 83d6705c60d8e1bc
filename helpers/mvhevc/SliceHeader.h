#pragma once

#include "NalUnit.h"
#include "ParameterSets.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrova::mvhevc {

/// Where the parts of one slice segment header lie, in bits of its NAL unit's RBSP.
struct SliceHeaderLayout {
  bool firstSliceInPicture = false;
  std::uint32_t sliceType = 0;   ///< 0 B, 1 P, 2 I
  std::size_t ppsIdAt = 0;       ///< slice_pic_parameter_set_id
  std::size_t ppsIdEnd = 0;      ///< the bit after it
  std::size_t extraBitsAt = 0;   ///< the first of the PPS's extra slice header bits
  std::size_t sliceTypeAt = 0;   ///< slice_type, right after the extra bits
  std::size_t pocAt = 0;         ///< where slice_pic_order_cnt_lsb is or would be
  std::size_t interLayerAt = 0;  ///< where a layer's inter-layer prediction fields are or would be
  std::size_t alignmentAt = 0;   ///< the first bit of byte_alignment()
  std::size_t sliceDataByte = 0; ///< the first byte of the slice data
};

/// How slices of a layer above 0 signal inter-layer prediction.
enum class InterLayerSignal {
  none,     ///< a single-layer stream, or a VPS that makes every slice use its reference layer
  perSlice, ///< inter_layer_pred_enabled_flag in each slice (one direct reference layer)
};

/// Parses the header of a slice segment NAL unit of layer `layerId`, described by `sps` and
/// `pps`. Throws BitstreamError for dependent slice segments, list modifications and a header
/// that does not end in a byte alignment.
SliceHeaderLayout parseSliceHeader(std::span<const std::uint8_t> rbsp, std::uint8_t nalType, std::uint8_t layerId,
                                   const SpsInfo &sps, const PpsInfo &pps, InterLayerSignal interLayer);

/// A copy of a slice segment with the PPS's extra slice header bits removed, for a PPS rewritten
/// to announce none. Everything else of the header and the slice data stay as they were.
NalBytes withoutExtraSliceHeaderBits(std::span<const std::uint8_t> nal, const SpsInfo &sps, const PpsInfo &pps,
                                     InterLayerSignal interLayer);

/// Number of bits of ceil(log2(value)), as slice_segment_address and set indices are coded.
unsigned ceilLog2(std::uint32_t value);

} // namespace kestrova::mvhevc
