#pragma once

// Builders of small Annex B byte streams for the reader and interleaver tests.

#include "ReferenceReader.h"

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <random>
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
inline ByteVector labelledUnit(std::uint8_t delimiterType, std::uint32_t index, bool fourByteCodes = true) {
  const ByteVector code = fourByteCodes ? bytes({0, 0, 0, 1}) : bytes({0, 0, 1});
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

/// A random stream that is dense in the byte patterns the reader cares about:
/// start codes of both lengths, delimiters of both views, runs of zeros,
/// emulation-prevention bytes, junk before the first unit and a cut-off end.
inline ByteVector randomStream(std::mt19937 &random, std::size_t units) {
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  auto fuzzyByte = [&]() -> std::uint8_t {
    static constexpr std::uint8_t kInteresting[] = {0, 0, 0, 1, 3, 9, 24, 0x09, 0x18, 0x29, 0x38, 0x67, 0xFF};
    return pick(3) == 0 ? static_cast<std::uint8_t>(random()) : kInteresting[pick(sizeof kInteresting)];
  };
  ByteVector out;
  if (pick(3) == 0)
    for (int n = pick(20); n > 0; --n)
      out.push_back(fuzzyByte());
  for (std::size_t u = 0; u < units; ++u) {
    for (int nals = 1 + pick(4), first = 1; nals > 0; --nals, first = 0) {
      if (pick(2) == 0)
        out.push_back(0);
      out = out + bytes({0, 0, 1});
      // Units mostly open with a delimiter of either view; other types follow.
      static constexpr std::uint8_t kTypes[] = {0x09, 0x18, 0x01, 0x65, 0x67, 0x14, 0x0E, 0x29, 0x38};
      out.push_back(first && pick(4) != 0 ? kTypes[pick(2)] : kTypes[pick(sizeof kTypes)]);
      for (int n = pick(40); n > 0; --n)
        out.push_back(fuzzyByte());
    }
  }
  if (pick(4) == 0 && !out.empty())
    out.resize(out.size() - static_cast<std::size_t>(pick(static_cast<int>(std::min<std::size_t>(out.size(), 8)))));
  return out;
}

void writeBytes(const std::filesystem::path &path, const ByteVector &content);
ByteVector readBytes(const std::filesystem::path &path);

} // namespace kestrova::nal::test
