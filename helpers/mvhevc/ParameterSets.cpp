#include "ParameterSets.h"

#include "Bitstream.h"

#include <algorithm>

namespace kestrova::mvhevc {
namespace {

constexpr std::uint8_t kMultiviewMainProfile = 6;

void readProfileTierLevel(BitReader &reader, std::array<std::uint8_t, 12> &out) {
  for (auto &byte : out) {
    byte = static_cast<std::uint8_t>(reader.bits(8));
  }
}

void writeBytes(BitWriter &writer, std::span<const std::uint8_t> bytes) {
  for (const auto byte : bytes) {
    writer.bits(byte, 8);
  }
}

} // namespace

std::uint32_t SpsInfo::pictureSizeInCtbs() const {
  const auto ctb = 1U << log2CtbSize;
  return ((width + ctb - 1) / ctb) * ((height + ctb - 1) / ctb);
}

std::uint32_t ShortTermRefSet::usedCount() const {
  const auto count = [](const std::vector<bool> &flags) {
    return static_cast<std::uint32_t>(std::count(flags.begin(), flags.end(), true));
  };
  return count(usedBefore) + count(usedAfter);
}

namespace {

// A set predicted from another: each of the reference set's pictures, and the reference
// picture itself (last), shifted by deltaRps, kept when flagged and not the current picture.
ShortTermRefSet predictedSet(BitReader &reader, const ShortTermRefSet &ref) {
  const bool negative = reader.flag();
  const auto magnitude = static_cast<std::int32_t>(reader.ue()) + 1;
  const std::int32_t deltaRps = negative ? -magnitude : magnitude;
  const auto count = ref.deltaCount();
  std::vector<bool> used(count + 1), useDelta(count + 1);
  for (std::uint32_t j = 0; j <= count; ++j) {
    used[j] = reader.flag();
    useDelta[j] = used[j] || reader.flag();
  }
  const auto negatives = static_cast<std::int32_t>(ref.before.size());
  const auto positives = static_cast<std::int32_t>(ref.after.size());
  ShortTermRefSet set;
  const auto keep = [&](std::int32_t delta, std::size_t j) {
    auto &deltas = delta < 0 ? set.before : set.after;
    auto &flags = delta < 0 ? set.usedBefore : set.usedAfter;
    if (delta != 0 && useDelta[j]) {
      deltas.push_back(delta);
      flags.push_back(used[j]);
    }
  };
  for (auto j = positives - 1; j >= 0; --j) {
    if (ref.after[j] + deltaRps < 0) {
      keep(ref.after[j] + deltaRps, static_cast<std::size_t>(negatives + j));
    }
  }
  if (deltaRps < 0) {
    keep(deltaRps, count);
  }
  for (std::int32_t j = 0; j < negatives; ++j) {
    if (ref.before[j] + deltaRps < 0) {
      keep(ref.before[j] + deltaRps, static_cast<std::size_t>(j));
    }
  }
  for (auto j = negatives - 1; j >= 0; --j) {
    if (ref.before[j] + deltaRps > 0) {
      keep(ref.before[j] + deltaRps, static_cast<std::size_t>(j));
    }
  }
  if (deltaRps > 0) {
    keep(deltaRps, count);
  }
  for (std::int32_t j = 0; j < positives; ++j) {
    if (ref.after[j] + deltaRps > 0) {
      keep(ref.after[j] + deltaRps, static_cast<std::size_t>(negatives + j));
    }
  }
  return set;
}

} // namespace

ShortTermRefSet readShortTermRefPicSet(BitReader &reader, std::uint32_t index, std::span<const ShortTermRefSet> sets) {
  if (index != 0 && reader.flag()) { // inter_ref_pic_set_prediction_flag
    std::uint32_t deltaIdxMinus1 = 0;
    if (index == sets.size()) {
      deltaIdxMinus1 = reader.ue();
    }
    if (deltaIdxMinus1 + 1 > index) {
      throw BitstreamError("reference picture set predicted from a set that does not exist");
    }
    return predictedSet(reader, sets[index - (deltaIdxMinus1 + 1)]);
  }
  const auto negatives = reader.ue();
  const auto positives = reader.ue();
  if (negatives > 16 || positives > 16) {
    throw BitstreamError("reference picture set too large");
  }
  ShortTermRefSet set;
  std::int32_t poc = 0;
  for (std::uint32_t i = 0; i < negatives; ++i) {
    poc -= static_cast<std::int32_t>(reader.ue()) + 1;
    set.before.push_back(poc);
    set.usedBefore.push_back(reader.flag());
  }
  poc = 0;
  for (std::uint32_t i = 0; i < positives; ++i) {
    poc += static_cast<std::int32_t>(reader.ue()) + 1;
    set.after.push_back(poc);
    set.usedAfter.push_back(reader.flag());
  }
  return set;
}

namespace {

// chroma_format_idc to the bit depths, or for the layer-1 form the base layer's.
void readPictureFormat(BitReader &reader, SpsInfo &sps, const SpsInfo *base) {
  if (sps.multiLayerExtension) {
    if (reader.flag()) { // update_rep_format_flag
      throw BitstreamError("a layer-1 sequence parameter set with its own picture format");
    }
    sps.chromaFormatIdc = base->chromaFormatIdc;
    sps.separateColourPlane = base->separateColourPlane;
    sps.width = base->width;
    sps.height = base->height;
    sps.conformanceWindow = base->conformanceWindow;
    sps.conformanceOffsets = base->conformanceOffsets;
    sps.bitDepthLuma = base->bitDepthLuma;
    sps.bitDepthChroma = base->bitDepthChroma;
  } else {
    sps.chromaFormatIdc = reader.ue();
    if (sps.chromaFormatIdc == 3) {
      sps.separateColourPlane = reader.flag();
    }
    sps.width = reader.ue();
    sps.height = reader.ue();
    sps.conformanceWindow = reader.flag();
    if (sps.conformanceWindow) {
      for (auto &offset : sps.conformanceOffsets) {
        offset = reader.ue();
      }
    }
    sps.bitDepthLuma = reader.ue() + 8;
    sps.bitDepthChroma = reader.ue() + 8;
  }
}

} // namespace

SpsInfo parseSps(std::span<const std::uint8_t> nal, const SpsInfo *base) {
  const auto rbsp = rbspOf(nal);
  BitReader reader(rbsp);
  SpsInfo sps;
  reader.bits(4); // sps_video_parameter_set_id
  const auto maxSubLayersOrExt = reader.bits(3);
  sps.multiLayerExtension = layerIdOf(nal) != 0 && maxSubLayersOrExt == 7;
  if (sps.multiLayerExtension) {
    if (base == nullptr) {
      throw BitstreamError("a layer-1 sequence parameter set without its base layer's");
    }
    sps.profileTierLevel = base->profileTierLevel;
  } else {
    if (maxSubLayersOrExt != 0) {
      throw BitstreamError("sequence parameter sets with temporal sub-layers are not supported");
    }
    reader.bits(1); // sps_temporal_id_nesting_flag
    readProfileTierLevel(reader, sps.profileTierLevel);
  }
  sps.spsId = reader.ue();
  readPictureFormat(reader, sps, base);
  sps.log2MaxPocLsb = reader.ue() + 4;
  if (sps.multiLayerExtension) {
    sps.maxDecPicBufferingMinus1 = base->maxDecPicBufferingMinus1;
    sps.maxNumReorderPics = base->maxNumReorderPics;
    sps.maxLatencyIncreasePlus1 = base->maxLatencyIncreasePlus1;
  } else {
    reader.bits(1); // sps_sub_layer_ordering_info_present_flag: one sub-layer either way
    sps.maxDecPicBufferingMinus1 = reader.ue();
    sps.maxNumReorderPics = reader.ue();
    sps.maxLatencyIncreasePlus1 = reader.ue();
  }
  const auto log2MinCb = reader.ue() + 3;
  sps.log2CtbSize = log2MinCb + reader.ue();
  reader.ue();         // log2_min_luma_transform_block_size_minus2
  reader.ue();         // log2_diff_max_min_luma_transform_block_size
  reader.ue();         // max_transform_hierarchy_depth_inter
  reader.ue();         // max_transform_hierarchy_depth_intra
  if (reader.flag()) { // scaling_list_enabled_flag
    // The layer-1 form may inherit the base layer's lists; either way the slices do not change.
    if (sps.multiLayerExtension && reader.flag()) {
      reader.bits(6); // sps_scaling_list_ref_layer_id
    } else if (reader.flag()) {
      throw BitstreamError("explicit scaling lists are not supported");
    }
  }
  reader.bits(1); // amp_enabled_flag
  sps.saoEnabled = reader.flag();
  if (reader.flag()) { // pcm_enabled_flag
    reader.bits(8);
    reader.ue();
    reader.ue();
    reader.bits(1);
  }
  const auto setCount = reader.ue();
  if (setCount > 64) {
    throw BitstreamError("too many short-term reference picture sets");
  }
  for (std::uint32_t i = 0; i < setCount; ++i) {
    sps.shortTermSets.push_back(readShortTermRefPicSet(reader, i, sps.shortTermSets));
  }
  sps.longTermRefsPresent = reader.flag();
  if (sps.longTermRefsPresent) {
    throw BitstreamError("long-term reference pictures are not supported");
  }
  sps.temporalMvpEnabled = reader.flag();
  return sps;
}

PpsInfo parsePps(std::span<const std::uint8_t> nal) {
  const auto rbsp = rbspOf(nal);
  BitReader reader(rbsp);
  PpsInfo pps;
  pps.ppsId = reader.ue();
  pps.spsId = reader.ue();
  pps.dependentSliceSegmentsEnabled = reader.flag();
  pps.outputFlagPresent = reader.flag();
  pps.numExtraSliceHeaderBits = reader.bits(3);
  reader.bits(1); // sign_data_hiding_enabled_flag
  pps.cabacInitPresent = reader.flag();
  pps.refIdxDefaultL0 = reader.ue() + 1;
  pps.refIdxDefaultL1 = reader.ue() + 1;
  reader.se();    // init_qp_minus26
  reader.bits(2); // constrained_intra_pred_flag, transform_skip_enabled_flag
  if (reader.flag()) {
    reader.ue(); // diff_cu_qp_delta_depth
  }
  reader.se(); // pps_cb_qp_offset
  reader.se(); // pps_cr_qp_offset
  pps.sliceChromaQpOffsetsPresent = reader.flag();
  pps.weightedPred = reader.flag();
  pps.weightedBipred = reader.flag();
  reader.bits(1); // transquant_bypass_enabled_flag
  pps.tilesEnabled = reader.flag();
  pps.entropyCodingSync = reader.flag();
  if (pps.tilesEnabled) {
    const auto columns = reader.ue() + 1;
    const auto rows = reader.ue() + 1;
    if (columns > 64 || rows > 64) {
      throw BitstreamError("too many tiles");
    }
    if (!reader.flag()) { // uniform_spacing_flag
      for (std::uint32_t i = 0; i + 2 < columns + rows; ++i) {
        reader.ue();
      }
    }
    reader.bits(1); // loop_filter_across_tiles_enabled_flag
  }
  pps.loopFilterAcrossSlices = reader.flag();
  if (reader.flag()) { // deblocking_filter_control_present_flag
    pps.deblockingOverrideEnabled = reader.flag();
    pps.deblockingDisabled = reader.flag();
    if (!pps.deblockingDisabled) {
      reader.se();
      reader.se();
    }
  }
  if (reader.flag()) {
    throw BitstreamError("picture parameter sets with scaling lists are not supported");
  }
  pps.listsModificationPresent = reader.flag();
  reader.ue(); // log2_parallel_merge_level_minus2
  pps.sliceHeaderExtensionPresent = reader.flag();
  if (reader.flag() && reader.flag()) { // pps_extension_present_flag, pps_range_extension_flag
    throw BitstreamError("picture parameter sets with the range extension are not supported");
  }
  return pps;
}

NalBytes layerOneSps(std::span<const std::uint8_t> nal, std::uint32_t newSpsId) {
  const auto rbsp = rbspOf(nal);
  BitReader reader(rbsp);
  BitWriter writer;
  writer.copy(reader, 8);
  std::array<std::uint8_t, 12> ptl{};
  readProfileTierLevel(reader, ptl);
  writeBytes(writer, ptl);
  reader.ue();
  writer.ue(newSpsId);
  writer.copy(reader, reader.remaining());
  return makeNal(static_cast<std::uint8_t>(NalType::sps), 1, 1, writer.bytes());
}

NalBytes rewrittenPps(std::span<const std::uint8_t> nal, std::uint8_t layerId, std::uint32_t newPpsId,
                      std::uint32_t newSpsId) {
  const auto rbsp = rbspOf(nal);
  BitReader reader(rbsp);
  BitWriter writer;
  reader.ue();
  reader.ue();
  writer.ue(newPpsId);
  writer.ue(newSpsId);
  writer.copy(reader, 2); // dependent_slice_segments_enabled_flag, output_flag_present_flag
  reader.bits(3);
  writer.bits(0, 3); // num_extra_slice_header_bits
  writer.copy(reader, reader.remaining());
  return makeNal(static_cast<std::uint8_t>(NalType::pps), layerId, 1, writer.bytes());
}

namespace {

void writeRepFormat(BitWriter &w, const SpsInfo &base) {
  w.ue(0); // vps_num_rep_formats_minus1
  w.bits(base.width, 16);
  w.bits(base.height, 16);
  w.flag(true); // chroma_and_bit_depth_vps_present_flag
  w.bits(base.chromaFormatIdc, 2);
  if (base.chromaFormatIdc == 3) {
    w.flag(base.separateColourPlane);
  }
  w.bits(base.bitDepthLuma - 8, 4);
  w.bits(base.bitDepthChroma - 8, 4);
  w.flag(base.conformanceWindow);
  if (base.conformanceWindow) {
    for (const auto offset : base.conformanceOffsets) {
      w.ue(offset);
    }
  }
}

// The extension that turns the single-layer description into two views.
void writeMultiviewExtension(BitWriter &w, const SpsInfo &base) {
  const auto level = base.profileTierLevel[11];
  w.bits(level, 8);   // profile_tier_level(0, 0): the level of the base layer's set
  w.flag(false);      // splitting_flag
  w.bits(0x4000, 16); // scalability_mask_flag: multiview only
  w.bits(0, 3);       // dimension_id_len_minus1: one bit of view order index
  w.flag(true);       // vps_nuh_layer_id_present_flag
  w.bits(1, 6);       // layer_id_in_nuh[1]
  w.bits(1, 1);       // dimension_id[1][0]: view order index 1
  w.bits(1, 4);       // view_id_len
  w.bits(0, 1);       // view_id_val[0]
  w.bits(1, 1);       // view_id_val[1]
  w.flag(true);       // direct_dependency_flag[1][0]: decoders expect the dependent view
  w.flag(false);      // vps_sub_layers_max_minus1_present_flag
  w.flag(false);      // max_tid_ref_present_flag
  w.flag(false);      // default_ref_layers_active_flag: each slice says it uses none
  w.ue(2);            // vps_num_profile_tier_level_minus1
  w.flag(true);       // vps_profile_present_flag[2]
  w.bits(kMultiviewMainProfile, 8);
  w.bits(1U << (31 - kMultiviewMainProfile), 32);
  // progressive, non-packed, frame-only, then the 8-bit 4:2:0 capability flags
  w.bits(0xBF80, 16);
  w.bits(0, 32);
  w.bits(level, 8);
  w.ue(0);      // num_add_olss
  w.bits(0, 2); // default_output_layer_idc
  w.bits(1, 2); // profile_tier_level_idx[1][0]
  w.bits(2, 2); // profile_tier_level_idx[1][1]
  writeRepFormat(w, base);
  w.flag(true);  // max_one_active_ref_layer_flag
  w.flag(true);  // vps_poc_lsb_aligned_flag
  w.flag(false); // sub_layer_flag_info_present_flag[1]
  for (int layer = 0; layer < 2; ++layer) {
    w.ue(base.maxDecPicBufferingMinus1);
  }
  w.ue(base.maxNumReorderPics);
  w.ue(base.maxLatencyIncreasePlus1);
  w.ue(0);       // direct_dep_type_len_minus2
  w.flag(true);  // direct_dependency_all_layers_flag
  w.bits(2, 2);  // direct_dependency_all_layers_type: sample and motion
  w.ue(0);       // vps_non_vui_extension_length
  w.flag(false); // vps_vui_present_flag
}

} // namespace

NalBytes multiviewVps(const SpsInfo &base) {
  BitWriter w;
  w.bits(0, 4);       // vps_video_parameter_set_id
  w.flag(true);       // vps_base_layer_internal_flag
  w.flag(true);       // vps_base_layer_available_flag
  w.bits(1, 6);       // vps_max_layers_minus1
  w.bits(0, 3);       // vps_max_sub_layers_minus1
  w.flag(true);       // vps_temporal_id_nesting_flag
  w.bits(0xFFFF, 16); // vps_reserved_0xffff_16bits
  writeBytes(w, base.profileTierLevel);
  w.flag(true); // vps_sub_layer_ordering_info_present_flag
  w.ue(base.maxDecPicBufferingMinus1);
  w.ue(base.maxNumReorderPics);
  w.ue(base.maxLatencyIncreasePlus1);
  w.bits(1, 6);  // vps_max_layer_id
  w.ue(1);       // vps_num_layer_sets_minus1
  w.bits(3, 2);  // layer_id_included_flag[1][0..1]
  w.flag(false); // vps_timing_info_present_flag
  w.flag(true);  // vps_extension_flag
  w.alignWithOnes();
  writeMultiviewExtension(w, base);
  w.flag(false); // vps_extension2_flag
  w.trailingBits();
  return makeNal(static_cast<std::uint8_t>(NalType::vps), 0, 1, w.bytes());
}

NalBytes referenceDisplaysSei() {
  BitWriter payload;
  payload.ue(31);      // prec_ref_display_width
  payload.flag(false); // ref_viewing_distance_flag
  payload.ue(0);       // num_ref_displays_minus1
  payload.ue(0);       // left_view_id[0]
  payload.ue(1);       // right_view_id[0]
  payload.bits(0, 6);  // exponent_ref_display_width[0]
  payload.bits(0, 1);  // mantissa_ref_display_width[0]: 1 bit at this precision
  payload.flag(false); // additional_shift_present_flag[0]
  payload.flag(false); // three_dimensional_reference_displays_extension_flag
  if (!payload.byteAligned()) {
    payload.trailingBits(); // payload bit alignment: a one bit then zeros
  }
  constexpr std::uint8_t kPayloadType = 176;
  BitWriter sei;
  sei.bits(kPayloadType, 8);
  sei.bits(static_cast<std::uint32_t>(payload.bytes().size()), 8);
  writeBytes(sei, payload.bytes());
  sei.trailingBits();
  return makeNal(static_cast<std::uint8_t>(NalType::prefixSei), 0, 1, sei.bytes());
}

} // namespace kestrova::mvhevc
