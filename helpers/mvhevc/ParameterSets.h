#pragma once

#include "Bitstream.h"
#include "NalUnit.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kestrova::mvhevc {

/// A short-term reference picture set: the POC deltas before and after the current picture,
/// nearest first, and whether the current picture uses each.
struct ShortTermRefSet {
  std::vector<std::int32_t> before, after;
  std::vector<bool> usedBefore, usedAfter;

  std::uint32_t deltaCount() const { return static_cast<std::uint32_t>(before.size() + after.size()); }
  /// How many of the pictures the current picture uses.
  std::uint32_t usedCount() const;
};

/// What the multiview stream needs to know of a sequence parameter set.
struct SpsInfo {
  std::uint32_t spsId = 0;
  /// general profile, tier and level: the 96 bits of profile_tier_level(1, 0), as 12 bytes.
  std::array<std::uint8_t, 12> profileTierLevel{};
  std::uint32_t chromaFormatIdc = 1;
  bool separateColourPlane = false;
  std::uint32_t width = 0;  ///< coded width in luma samples
  std::uint32_t height = 0; ///< coded height in luma samples
  bool conformanceWindow = false;
  std::array<std::uint32_t, 4> conformanceOffsets{}; ///< left, right, top, bottom
  std::uint32_t bitDepthLuma = 8;
  std::uint32_t bitDepthChroma = 8;
  std::uint32_t log2MaxPocLsb = 8;
  std::uint32_t maxDecPicBufferingMinus1 = 0;
  std::uint32_t maxNumReorderPics = 0;
  std::uint32_t maxLatencyIncreasePlus1 = 0;
  std::uint32_t log2CtbSize = 6;
  std::vector<ShortTermRefSet> shortTermSets;
  bool longTermRefsPresent = false;
  bool temporalMvpEnabled = false;
  bool saoEnabled = false;
  /// The layer-1 form that takes its picture format and profile from the video parameter set.
  bool multiLayerExtension = false;

  /// ChromaArrayType: 0 for monochrome or separately coded colour planes.
  std::uint32_t chromaArrayType() const { return separateColourPlane ? 0 : chromaFormatIdc; }

  std::uint32_t pictureSizeInCtbs() const;
};

/// The fields of a picture parameter set that shape its slices' headers.
struct PpsInfo {
  std::uint32_t ppsId = 0;
  std::uint32_t spsId = 0;
  bool dependentSliceSegmentsEnabled = false;
  bool outputFlagPresent = false;
  std::uint32_t numExtraSliceHeaderBits = 0;
  bool cabacInitPresent = false;
  std::uint32_t refIdxDefaultL0 = 1; ///< num_ref_idx_l0_default_active
  std::uint32_t refIdxDefaultL1 = 1;
  bool sliceChromaQpOffsetsPresent = false;
  bool weightedPred = false;
  bool weightedBipred = false;
  bool tilesEnabled = false;
  bool entropyCodingSync = false;
  bool loopFilterAcrossSlices = false;
  bool deblockingOverrideEnabled = false;
  bool deblockingDisabled = false;
  bool listsModificationPresent = false;
  bool sliceHeaderExtensionPresent = false;
};

/// Parses an SPS NAL unit. A layer-1 SPS in the multi-layer extension form takes the picture
/// format of `base` (the base layer's SPS). Throws BitstreamError for syntax this program does
/// not produce (sub-layers, explicit scaling lists, long-term references).
SpsInfo parseSps(std::span<const std::uint8_t> nal, const SpsInfo *base = nullptr);

/// Parses a PPS NAL unit up to the fields slice headers depend on. Throws BitstreamError for
/// syntax that changes slice headers in ways this program does not follow (range extension).
PpsInfo parsePps(std::span<const std::uint8_t> nal);

/// Reads st_ref_pic_set(index) of an SPS with `sets` read so far (index == sets.size() for the
/// one in a slice header, which may be predicted from any of them).
ShortTermRefSet readShortTermRefPicSet(BitReader &reader, std::uint32_t index, std::span<const ShortTermRefSet> sets);

/// Copies a single-layer SPS into layer 1 under a new id.
NalBytes layerOneSps(std::span<const std::uint8_t> nal, std::uint32_t newSpsId);

/// Copies a PPS into layer `layerId` under new PPS and SPS ids, announcing no extra slice
/// header bits (the slices must be rewritten to match).
NalBytes rewrittenPps(std::span<const std::uint8_t> nal, std::uint8_t layerId, std::uint32_t newPpsId,
                      std::uint32_t newSpsId);

/// A video parameter set for two views (view ids 0 and 1, layer 1 depending on layer 0, inter-layer
/// prediction left to each slice), describing pictures like `base`.
NalBytes multiviewVps(const SpsInfo &base);

/// A prefix SEI with the 3D reference displays information: left view 0, right view 1.
NalBytes referenceDisplaysSei();

} // namespace kestrova::mvhevc
