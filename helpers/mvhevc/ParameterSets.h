#pragma once

#include "Bitstream.h"
#include "NalUnit.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kestrova::mvhevc {

/// What the multiview stream needs to know of a single-layer sequence parameter set.
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
  /// NumDeltaPocs of each short-term reference picture set of the SPS.
  std::vector<std::uint32_t> shortTermSetDeltaCounts;
  bool longTermRefsPresent = false;
  bool temporalMvpEnabled = false;

  std::uint32_t pictureSizeInCtbs() const;
};

/// The slice-header-relevant fields of a picture parameter set.
struct PpsInfo {
  std::uint32_t ppsId = 0;
  std::uint32_t spsId = 0;
  bool dependentSliceSegmentsEnabled = false;
  bool outputFlagPresent = false;
  std::uint32_t numExtraSliceHeaderBits = 0;
};

/// Parses a base-layer SPS NAL unit. Throws BitstreamError for syntax this program does not
/// produce (sub-layers, explicit scaling lists).
SpsInfo parseSps(std::span<const std::uint8_t> nal);

/// Parses the leading fields of a PPS NAL unit.
PpsInfo parsePps(std::span<const std::uint8_t> nal);

/// Reads a st_ref_pic_set(index) and returns its NumDeltaPocs.
std::uint32_t skipShortTermRefPicSet(BitReader &reader, std::uint32_t index, std::uint32_t setCount,
                                     std::span<const std::uint32_t> deltaCounts);

/// Copies a single-layer SPS into layer 1 under a new id.
NalBytes layerOneSps(std::span<const std::uint8_t> nal, std::uint32_t newSpsId);

/// Copies a single-layer PPS into layer 1 under new PPS and SPS ids, with `extraSliceHeaderBits`
/// more reserved bits in its slices' headers.
NalBytes layerOnePps(std::span<const std::uint8_t> nal, std::uint32_t newPpsId, std::uint32_t newSpsId,
                     std::uint32_t extraSliceHeaderBits);

/// A video parameter set for two views (view ids 0 and 1, layer 1 depending on layer 0, inter-layer
/// prediction left to each slice), describing pictures like `base`.
NalBytes multiviewVps(const SpsInfo &base);

/// A prefix SEI with the 3D reference displays information: left view 0, right view 1.
NalBytes referenceDisplaysSei();

} // namespace kestrova::mvhevc
