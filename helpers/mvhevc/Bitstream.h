#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace kestrova::mvhevc {

/// Thrown when a NAL unit ends before a field that its syntax requires.
class BitstreamError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// Reads bits most significant first from an unescaped payload (RBSP).
class BitReader {
public:
  explicit BitReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  /// Reads `count` bits (0..32) as an unsigned number. Throws BitstreamError past the end.
  std::uint32_t bits(unsigned count);
  /// Reads one bit.
  bool flag() { return bits(1) != 0; }
  /// Reads an unsigned Exp-Golomb number.
  std::uint32_t ue();
  /// Reads a signed Exp-Golomb number.
  std::int32_t se();
  /// Skips `count` bits.
  void skip(std::size_t count);
  /// Bits read so far.
  std::size_t position() const { return position_; }
  /// Bits left in the payload.
  std::size_t remaining() const { return bytes_.size() * 8 - position_; }

private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

/// Appends bits most significant first to a growing payload (RBSP).
class BitWriter {
public:
  /// Appends the low `count` bits (0..32) of `value`.
  void bits(std::uint32_t value, unsigned count);
  /// Appends one bit.
  void flag(bool value) { bits(value ? 1 : 0, 1); }
  /// Appends an unsigned Exp-Golomb number.
  void ue(std::uint32_t value);
  /// Appends a signed Exp-Golomb number.
  void se(std::int32_t value);
  /// Copies `count` bits from `reader`, advancing it.
  void copy(BitReader &reader, std::size_t count);
  /// Appends the stop bit and zero bits up to the next byte boundary.
  void trailingBits();
  /// Appends one bits up to the next byte boundary (no stop bit).
  void alignWithOnes();
  bool byteAligned() const { return bitCount_ % 8 == 0; }
  std::size_t bitCount() const { return bitCount_; }
  /// The payload; call only when byte aligned.
  const std::vector<std::uint8_t> &bytes() const { return bytes_; }

private:
  std::vector<std::uint8_t> bytes_;
  std::size_t bitCount_ = 0;
};

/// Removes emulation prevention bytes (00 00 03 -> 00 00) from a NAL unit's payload.
std::vector<std::uint8_t> unescapePayload(std::span<const std::uint8_t> escaped);

/// Inserts emulation prevention bytes so that no 00 00 0x (x <= 3) sequence appears.
std::vector<std::uint8_t> escapePayload(std::span<const std::uint8_t> rbsp);

} // namespace kestrova::mvhevc
