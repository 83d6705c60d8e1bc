#pragma once

// A deliberately plain model of the access-unit reader: the whole file in
// memory, every position tested byte by byte, nothing clever. The real reader
// must hand out exactly what this one does whenever its units fit its buffer.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrova::nal::test {

using ByteVector = std::vector<std::uint8_t>;

struct ReferenceUnit {
  ByteVector delimiter;
  ByteVector payload;
  friend bool operator==(const ReferenceUnit &, const ReferenceUnit &) = default;
};

struct ReferenceResult {
  std::size_t junk = 0;
  std::vector<ReferenceUnit> units;
};

inline bool referenceOpens(const ByteVector &b, std::ptrdiff_t p, std::uint8_t type) {
  const auto n = static_cast<std::ptrdiff_t>(b.size());
  auto at = [&](std::ptrdiff_t i) { return b[static_cast<std::size_t>(i)]; };
  if (p + 2 >= n || at(p) != 0 || at(p + 1) != 0)
    return false;
  if (at(p + 2) == 1 && p + 3 < n && (at(p + 3) & 0x1F) == type)
    return true;
  return p + 4 < n && at(p + 2) == 0 && at(p + 3) == 1 && (at(p + 4) & 0x1F) == type;
}

inline std::size_t referenceStripLength(const ByteVector &a, std::uint8_t type) {
  const auto n = static_cast<std::ptrdiff_t>(a.size());
  if (n < 6)
    return 0;
  std::ptrdiff_t h;
  if (a[0] == 0 && a[1] == 0 && a[2] == 0 && a[3] == 1)
    h = 4;
  else if (a[0] == 0 && a[1] == 0 && a[2] == 1)
    h = 3;
  else
    return 0;
  if ((a[static_cast<std::size_t>(h)] & 0x1F) != type)
    return 0;
  for (std::ptrdiff_t q = h; q < n - 4; ++q) {
    const auto *x = &a[static_cast<std::size_t>(q)];
    if (x[0] == 0 && x[1] == 0 && (x[2] == 1 || (x[2] == 0 && x[3] == 1)))
      return static_cast<std::size_t>(q);
  }
  return a.size();
}

inline ReferenceResult referenceRead(ByteVector buffer, std::uint8_t type) {
  ReferenceResult result;
  for (std::ptrdiff_t p = 0; p < static_cast<std::ptrdiff_t>(buffer.size()) - 5; ++p)
    if (referenceOpens(buffer, p, type)) {
      result.junk = static_cast<std::size_t>(p);
      buffer.erase(buffer.begin(), buffer.begin() + p);
      break;
    }
  while (!buffer.empty()) {
    const auto n = static_cast<std::ptrdiff_t>(buffer.size());
    std::ptrdiff_t i = 1;
    if (n > 4 && buffer[0] == 0 && buffer[1] == 0 && buffer[2] == 1)
      i = 4;
    else if (n > 4 && buffer[0] == 0 && buffer[1] == 0 && buffer[2] == 0 && buffer[3] == 1)
      i = 5;
    for (; i < n - 5 && !referenceOpens(buffer, i, type); ++i) {
    }
    const std::size_t length = i >= n - 5 ? buffer.size() : static_cast<std::size_t>(i);
    ByteVector unit(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length));
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length));
    const auto strip = static_cast<std::ptrdiff_t>(referenceStripLength(unit, type));
    result.units.push_back(
        {ByteVector(unit.begin(), unit.begin() + strip), ByteVector(unit.begin() + strip, unit.end())});
  }
  return result;
}

} // namespace kestrova::nal::test
