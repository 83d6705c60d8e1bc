#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kestrova::nal {

/// Exp-Golomb and fixed-width reads over a NAL unit's payload, with the
/// emulation-prevention bytes (the 03 of 00 00 03) taken out first. Running
/// off the end sets `overrun` and reads zeros instead of throwing, so a
/// parser checks once at the end of each group of fields.
class BitReader {
public:
  explicit BitReader(std::span<const std::uint8_t> escaped);

  std::uint32_t bit();
  /// `count` bits (at most 32), the first the most significant.
  std::uint32_t bits(int count);
  std::uint32_t ue();
  std::int32_t se();

  bool overrun = false;

private:
  std::vector<std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

} // namespace kestrova::nal
