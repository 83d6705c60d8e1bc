#pragma once

#include "AccessUnitScan.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrova::helpers {

/// The picture of one base-view access unit, as a decoder takes it.
struct CodedPicture {
  /// Where it is shown: its picture order count, counted on over the whole
  /// stream (each IDR picture starts after everything shown before it).
  std::int64_t order = 0;
  /// Decoding can start here: an IDR picture, or an I picture with a
  /// recovery point SEI that makes every picture shown from it on right
  /// (recovery_frame_cnt 0). A piece from here leaves out its leading
  /// pictures (decoded after it, shown before it).
  bool key = false;
  /// Some of a key picture's leading pictures are reference pictures: a piece
  /// that leaves them out skips frame numbers, which edge264 decodes past and
  /// the JM decoder refuses ("An unintentional loss of pictures occurs").
  bool leadingReferenced = false;
  bool reference = false; ///< nal_ref_idc is not 0: later pictures may refer to it
};

/// The pictures of a base-view stream's access units (as scanDelimited found
/// them), in decoding order. A unit without a slice is shown after all
/// before it. No value when the order cannot be told: a slice without its
/// parameter sets, field pictures, or POC type 1. Memory management that
/// resets the order (operation 5) is not read: no encoder of Blu-ray films
/// is known to use it.
std::optional<std::vector<CodedPicture>> codedPictures(std::span<const std::uint8_t> stream, const StreamScan &scan);

} // namespace kestrova::helpers
