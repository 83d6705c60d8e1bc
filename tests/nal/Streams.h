#pragma once

// Builders of small Annex B byte streams for the reader and interleaver tests.

#include "ReferenceReader.h"

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>

namespace kestrova::nal::test {

inline ByteVector bytes(std::initializer_list<int> values) {
  ByteVector out;
  for (int v : values)
    out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

inline ByteVector operator+(ByteVector a, const ByteVector &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline void append(ByteVector &to, const ByteVector &more) {
  to.insert(to.end(), more.begin(), more.end());
}

/// A labelled access unit: delimiter, then one slice-like NAL unit whose
/// payload carries `index` (seven bits per byte with the top bit set, so that
/// it never looks like a start code), making order and pairing visible.
inline ByteVector labelledUnit(std::uint8_t delimiterType, std::uint32_t index) {
  const ByteVector code = bytes({0, 0, 0, 1});
  const auto headerType = static_cast<std::uint8_t>(delimiterType == 9 ? 0x01 : 0x14);
  ByteVector unit = code + ByteVector{delimiterType, 0xF0};
  append(unit, code);
  unit.push_back(headerType);
  for (int shift = 21; shift >= 0; shift -= 7)
    unit.push_back(static_cast<std::uint8_t>(0x80 | ((index >> shift) & 0x7F)));
  unit.push_back(0x80);
  return unit;
}

/// What the interleaver writes for a labelled unit: everything after its delimiter.
inline ByteVector labelledPayload(std::uint8_t delimiterType, std::uint32_t index) {
  const ByteVector unit = labelledUnit(delimiterType, index);
  return ByteVector(unit.begin() + 6, unit.end());
}

inline ByteVector labelledStream(std::uint8_t delimiterType, std::uint32_t count) {
  ByteVector out;
  for (std::uint32_t i = 0; i < count; ++i)
    append(out, labelledUnit(delimiterType, i));
  return out;
}

void writeBytes(const std::filesystem::path &path, const ByteVector &content);
ByteVector readBytes(const std::filesystem::path &path);

} // namespace kestrova::nal::test
