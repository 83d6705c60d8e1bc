#include "SliceHeader.h"

#include "Bitstream.h"

#include <bit>

namespace kestrova::mvhevc {
namespace {

constexpr std::uint32_t kSliceB = 0;
constexpr std::uint32_t kSliceP = 1;

// Every weight flag is present: no reference picture has both the layer and the picture order
// count of the current one (that needs the screen content extension).
void skipPredWeightTable(BitReader &reader, bool bipredictive, std::uint32_t countL0, std::uint32_t countL1,
                         std::uint32_t chromaArrayType) {
  reader.ue(); // luma_log2_weight_denom
  if (chromaArrayType != 0) {
    reader.se(); // delta_chroma_log2_weight_denom
  }
  for (const auto count : {countL0, bipredictive ? countL1 : 0U}) {
    std::vector<bool> luma(count), chroma(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      luma[i] = reader.flag();
    }
    if (chromaArrayType != 0) {
      for (std::uint32_t i = 0; i < count; ++i) {
        chroma[i] = reader.flag();
      }
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      if (luma[i]) {
        reader.se(); // delta_luma_weight
        reader.se(); // luma_offset
      }
      if (chroma[i]) {
        for (int j = 0; j < 4; ++j) {
          reader.se(); // delta_chroma_weight and delta_chroma_offset of Cb and Cr
        }
      }
    }
  }
}

// The fields between the picture order count and the quantiser: reference lists and weights.
void skipInterFields(BitReader &reader, const SliceHeaderLayout &layout, bool temporalMvp, std::uint32_t pictureCount,
                     const PpsInfo &pps, const SpsInfo &sps) {
  const bool b = layout.sliceType == kSliceB;
  auto countL0 = pps.refIdxDefaultL0;
  auto countL1 = pps.refIdxDefaultL1;
  if (reader.flag()) { // num_ref_idx_active_override_flag
    countL0 = reader.ue() + 1;
    if (b) {
      countL1 = reader.ue() + 1;
    }
  }
  if (pps.listsModificationPresent && pictureCount > 1) {
    // ref_pic_lists_modification(): each list's entries, when flagged, index the pictures.
    const auto entryBits = ceilLog2(pictureCount);
    if (reader.flag()) {
      reader.skip(std::size_t{countL0} * entryBits);
    }
    if (b && reader.flag()) {
      reader.skip(std::size_t{countL1} * entryBits);
    }
  }
  if (b) {
    reader.bits(1); // mvd_l1_zero_flag
  }
  if (pps.cabacInitPresent) {
    reader.bits(1);
  }
  if (temporalMvp) {
    const bool fromL0 = !b || reader.flag();
    if ((fromL0 && countL0 > 1) || (!fromL0 && countL1 > 1)) {
      reader.ue(); // collocated_ref_idx
    }
  }
  if ((pps.weightedPred && !b) || (pps.weightedBipred && b)) {
    skipPredWeightTable(reader, b, countL0, countL1, sps.chromaArrayType());
  }
  reader.ue(); // five_minus_max_num_merge_cand
}

// The fields from slice_sao_luma_flag to the header's end: filters, lists, weights, quantiser
// and entry points.
void skipTail(BitReader &reader, const SliceHeaderLayout &layout, bool temporalMvp, std::uint32_t pictureCount,
              const SpsInfo &sps, const PpsInfo &pps) {
  bool saoLuma = false;
  bool saoChroma = false;
  if (sps.saoEnabled) {
    saoLuma = reader.flag();
    if (sps.chromaArrayType() != 0) {
      saoChroma = reader.flag();
    }
  }
  if (layout.sliceType == kSliceP || layout.sliceType == kSliceB) {
    skipInterFields(reader, layout, temporalMvp, pictureCount, pps, sps);
  }
  reader.se(); // slice_qp_delta
  if (pps.sliceChromaQpOffsetsPresent) {
    reader.se();
    reader.se();
  }
  bool deblockingDisabled = pps.deblockingDisabled;
  if (pps.deblockingOverrideEnabled && reader.flag()) {
    deblockingDisabled = reader.flag();
    if (!deblockingDisabled) {
      reader.se(); // slice_beta_offset_div2
      reader.se(); // slice_tc_offset_div2
    }
  }
  if (pps.loopFilterAcrossSlices && (saoLuma || saoChroma || !deblockingDisabled)) {
    reader.bits(1);
  }
  if (pps.tilesEnabled || pps.entropyCodingSync) {
    const auto count = reader.ue();
    if (count > 0) {
      const auto length = reader.ue() + 1;
      if (length > 32) {
        throw BitstreamError("entry point offsets longer than 32 bits");
      }
      reader.skip(std::size_t{count} * length);
    }
  }
  if (pps.sliceHeaderExtensionPresent) {
    reader.skip(std::size_t{reader.ue()} * 8);
  }
}

} // namespace

unsigned ceilLog2(std::uint32_t value) {
  return value <= 1 ? 0 : static_cast<unsigned>(std::bit_width(value - 1));
}

SliceHeaderLayout parseSliceHeader(std::span<const std::uint8_t> rbsp, std::uint8_t nalType, std::uint8_t layerId,
                                   const SpsInfo &sps, const PpsInfo &pps, InterLayerSignal interLayer) {
  BitReader reader(rbsp);
  SliceHeaderLayout layout;
  layout.firstSliceInPicture = reader.flag();
  if (isIrap(nalType)) {
    reader.bits(1); // no_output_of_prior_pics_flag
  }
  layout.ppsIdAt = reader.position();
  reader.ue();
  layout.ppsIdEnd = reader.position();
  if (!layout.firstSliceInPicture) {
    if (pps.dependentSliceSegmentsEnabled && reader.flag()) {
      throw BitstreamError("dependent slice segments are not supported");
    }
    reader.skip(ceilLog2(sps.pictureSizeInCtbs())); // slice_segment_address
  }
  layout.extraBitsAt = reader.position();
  reader.skip(pps.numExtraSliceHeaderBits);
  layout.sliceTypeAt = reader.position();
  layout.sliceType = reader.ue();
  if (pps.outputFlagPresent) {
    reader.bits(1);
  }
  if (sps.separateColourPlane) {
    reader.bits(2);
  }
  layout.pocAt = reader.position();
  // Layers above 0 carry the LSBs even in IDR pictures, unless the VPS leaves them out (it does
  // only for layers without reference layers, which no layer 1 here is).
  if (layerId > 0 || !isIdr(nalType)) {
    reader.skip(sps.log2MaxPocLsb);
  }
  bool temporalMvp = false;
  std::uint32_t pictureCount = 0; // NumPicTotalCurr: the pictures the lists are made of
  if (!isIdr(nalType)) {
    const auto setCount = static_cast<std::uint32_t>(sps.shortTermSets.size());
    if (reader.flag()) { // short_term_ref_pic_set_sps_flag
      const auto index = reader.bits(ceilLog2(setCount));
      if (index >= setCount) {
        throw BitstreamError("a slice names a reference picture set the SPS does not have");
      }
      pictureCount = sps.shortTermSets[index].usedCount();
    } else {
      pictureCount = readShortTermRefPicSet(reader, setCount, sps.shortTermSets).usedCount();
    }
    if (sps.temporalMvpEnabled) {
      temporalMvp = reader.flag();
    }
  }
  layout.interLayerAt = reader.position();
  if (layerId > 0) {
    // With one direct reference layer nothing follows the flag.
    const bool fromBase = interLayer == InterLayerSignal::perSlice ? reader.flag() : true;
    pictureCount += fromBase ? 1 : 0;
  }
  skipTail(reader, layout, temporalMvp, pictureCount, sps, pps);
  layout.alignmentAt = reader.position();
  if (!reader.flag()) {
    throw BitstreamError("a slice header that does not end where its syntax says");
  }
  while (reader.position() % 8 != 0) {
    if (reader.flag()) {
      throw BitstreamError("a slice header that does not end where its syntax says");
    }
  }
  layout.sliceDataByte = reader.position() / 8;
  return layout;
}

NalBytes withoutExtraSliceHeaderBits(std::span<const std::uint8_t> nal, const SpsInfo &sps, const PpsInfo &pps,
                                     InterLayerSignal interLayer) {
  const auto type = nalTypeOf(nal);
  const auto layerId = layerIdOf(nal);
  const auto rbsp = rbspOf(nal);
  const auto layout = parseSliceHeader(rbsp, type, layerId, sps, pps, interLayer);
  BitReader in(rbsp);
  BitWriter out;
  out.copy(in, layout.extraBitsAt);
  in.skip(layout.sliceTypeAt - layout.extraBitsAt);
  out.copy(in, layout.alignmentAt - layout.sliceTypeAt);
  out.trailingBits(); // byte_alignment(): a one bit, then zeros
  auto bytes = out.bytes();
  bytes.insert(bytes.end(), rbsp.begin() + static_cast<std::ptrdiff_t>(layout.sliceDataByte), rbsp.end());
  return makeNal(type, layerId, static_cast<std::uint8_t>(nal[1] & 7), bytes);
}

} // namespace kestrova::mvhevc
