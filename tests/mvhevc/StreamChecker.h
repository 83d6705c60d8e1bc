#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrova::mvhevc::test {

/// Profile, tier and level of one profile_tier_level().
struct Ptl {
  std::uint32_t profile = 0;
  bool highTier = false;
  std::uint32_t level = 0;
};

/// One track's timing (durations in seconds, the edit's start in media samples) and how it is
/// presented.
struct TrackTiming {
  bool video = false;      ///< a video media header (else sound)
  double trackSeconds = 0; ///< tkhd
  std::int64_t editMediaTime = -1;
  std::string handler;              ///< hdlr's component subtype: vide, soun, text
  std::uint32_t id = 0;             ///< tkhd
  std::uint32_t flags = 0;          ///< tkhd: 1 enabled, 2 in movie
  std::uint32_t alternateGroup = 0; ///< tkhd
  std::uint32_t chapterTrack = 0;   ///< the track tref/chap names; 0 when none
};

/// What the structural check of a spatial video file finds: the sample entry's arrays, the
/// parameter sets' fields, every video sample's NAL units, and the tracks' timing.
struct StreamFacts {
  std::vector<std::uint8_t> hvcCArrays, lhvCArrays; ///< each array's completeness bit and NAL unit type
  Ptl record;                                       ///< the hvcC's own
  Ptl baseSps;                                      ///< the layer-0 SPS's
  std::vector<Ptl> vpsExtension;                    ///< the VPS extension's entries (Multiview Main last)
  std::uint32_t extraSliceHeaderBits[2] = {};       ///< of each layer's PPS
  bool layerOneSpsExtensionForm = false;            ///< picture format and profile from the VPS

  std::size_t samples = 0;
  std::size_t samplesWithParameterSets = 0;
  std::size_t samplesWithoutBothLayers = 0; ///< a sample lacking slices of layer 0 or layer 1
  std::size_t layerOneSlices = 0;
  std::size_t layerOneSlicesFromBase = 0;  ///< slices that predict from layer 0
  std::size_t layerOneIrapInterSlices = 0; ///< layer-1 P/B slices in random-access samples
  std::size_t layerOneIrapSlices = 0;

  double movieSeconds = 0; ///< mvhd
  std::vector<TrackTiming> tracks;
};

struct Box;

/// The timing of every track of a box tree, in file order.
std::vector<TrackTiming> trackTimings(const std::vector<Box> &boxes);

/// Reads `file` and checks its structure. Throws std::runtime_error (or the bitstream parser's
/// error) for anything it cannot follow.
StreamFacts checkStream(const std::filesystem::path &file);

} // namespace kestrova::mvhevc::test
