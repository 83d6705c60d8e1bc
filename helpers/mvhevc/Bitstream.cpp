#include "Bitstream.h"

namespace kestrova::mvhevc {

std::uint32_t BitReader::bits(unsigned count) {
  if (count > remaining()) {
    throw BitstreamError("NAL unit ends in the middle of a field");
  }
  std::uint32_t value = 0;
  for (unsigned i = 0; i < count; ++i) {
    const auto byte = bytes_[position_ >> 3];
    value = (value << 1) | ((byte >> (7 - (position_ & 7))) & 1U);
    ++position_;
  }
  return value;
}

std::uint32_t BitReader::ue() {
  unsigned zeros = 0;
  while (!flag()) {
    if (++zeros > 31) {
      throw BitstreamError("Exp-Golomb code longer than 32 bits");
    }
  }
  if (zeros == 0) {
    return 0;
  }
  return static_cast<std::uint32_t>((std::uint64_t{1} << zeros) - 1 + bits(zeros));
}

std::int32_t BitReader::se() {
  const auto code = ue();
  const auto magnitude = static_cast<std::int32_t>((code + 1) / 2);
  return (code & 1U) != 0 ? magnitude : -magnitude;
}

void BitReader::skip(std::size_t count) {
  if (count > remaining()) {
    throw BitstreamError("NAL unit ends in the middle of a field");
  }
  position_ += count;
}

void BitWriter::bits(std::uint32_t value, unsigned count) {
  for (unsigned i = count; i-- > 0;) {
    if (bitCount_ % 8 == 0) {
      bytes_.push_back(0);
    }
    if (((value >> i) & 1U) != 0) {
      bytes_.back() |= static_cast<std::uint8_t>(0x80U >> (bitCount_ % 8));
    }
    ++bitCount_;
  }
}

void BitWriter::ue(std::uint32_t value) {
  const auto coded = std::uint64_t{value} + 1;
  unsigned length = 0;
  while ((coded >> (length + 1)) != 0) {
    ++length;
  }
  if (length >= 32) {
    throw BitstreamError("number too large for an Exp-Golomb code");
  }
  bits(0, length);
  bits(static_cast<std::uint32_t>(coded), length + 1);
}

void BitWriter::se(std::int32_t value) {
  const auto magnitude = static_cast<std::uint32_t>(value < 0 ? -static_cast<std::int64_t>(value) : value);
  ue(value > 0 ? magnitude * 2 - 1 : magnitude * 2);
}

void BitWriter::copy(BitReader &reader, std::size_t count) {
  while (count >= 32) {
    bits(reader.bits(32), 32);
    count -= 32;
  }
  bits(reader.bits(static_cast<unsigned>(count)), static_cast<unsigned>(count));
}

void BitWriter::trailingBits() {
  flag(true);
  while (!byteAligned()) {
    flag(false);
  }
}

void BitWriter::alignWithOnes() {
  while (!byteAligned()) {
    flag(true);
  }
}

std::vector<std::uint8_t> unescapePayload(std::span<const std::uint8_t> escaped) {
  std::vector<std::uint8_t> out;
  out.reserve(escaped.size());
  unsigned zeros = 0;
  for (const auto byte : escaped) {
    if (zeros >= 2 && byte == 3) {
      zeros = 0;
      continue;
    }
    out.push_back(byte);
    zeros = byte == 0 ? zeros + 1 : 0;
  }
  return out;
}

std::vector<std::uint8_t> escapePayload(std::span<const std::uint8_t> rbsp) {
  std::vector<std::uint8_t> out;
  out.reserve(rbsp.size() + rbsp.size() / 64 + 4);
  unsigned zeros = 0;
  for (const auto byte : rbsp) {
    if (zeros >= 2 && byte <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    out.push_back(byte);
    zeros = byte == 0 ? zeros + 1 : 0;
  }
  return out;
}

} // namespace kestrova::mvhevc
