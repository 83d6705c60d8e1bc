#include "nal/BitReader.h"

namespace kestrova::nal {

BitReader::BitReader(std::span<const std::uint8_t> escaped) {
  int zeros = 0;
  for (std::uint8_t byte : escaped) {
    if (zeros >= 2 && byte == 3) {
      zeros = 0;
      continue;
    }
    zeros = byte == 0 ? zeros + 1 : 0;
    bytes_.push_back(byte);
  }
}

std::uint32_t BitReader::bit() {
  if (position_ >= bytes_.size() * 8) {
    overrun = true;
    return 0;
  }
  std::uint32_t value = (bytes_[position_ / 8] >> (7 - position_ % 8)) & 1;
  ++position_;
  return value;
}

std::uint32_t BitReader::bits(int count) {
  std::uint32_t value = 0;
  for (int i = 0; i < count; ++i)
    value = (value << 1) | bit();
  return value;
}

std::uint32_t BitReader::ue() {
  int leadingZeros = 0;
  while (bit() == 0 && !overrun) {
    if (++leadingZeros > 31) {
      overrun = true;
      return 0;
    }
  }
  return (std::uint32_t{1} << leadingZeros) - 1 + bits(leadingZeros);
}

std::int32_t BitReader::se() {
  std::uint32_t code = ue();
  auto magnitude = static_cast<std::int32_t>((code + 1) / 2);
  return code % 2 == 1 ? magnitude : -magnitude;
}

} // namespace kestrova::nal
