#include "nal/AnnexB.h"

#include <cstring>

namespace kestrova::nal::annexb {
namespace {

const std::uint8_t *findByte(const std::uint8_t *from, const std::uint8_t *end, std::uint8_t value) {
  return static_cast<const std::uint8_t *>(std::memchr(from, value, static_cast<std::size_t>(end - from)));
}

} // namespace

std::optional<std::size_t> findNalUnit(Bytes data, std::size_t from, std::uint8_t type) {
  if (data.size() < 6)
    return std::nullopt;
  const std::size_t limit = data.size() - 5; // start codes at p < limit
  if (from >= limit)
    return std::nullopt;
  // Every start code ends in a 01 byte two or three bytes after its first
  // byte; memchr finds those candidates far faster than a byte-by-byte walk,
  // and consecutive candidates are at least three bytes apart, so the first
  // match found is also the lowest position.
  const std::uint8_t *base = data.data();
  const std::uint8_t *end = base + limit + 3; // the 01 byte lies at p + 2 or p + 3
  for (const std::uint8_t *one = base + from + 2; one < end; ++one) {
    one = findByte(one, end, 1);
    if (!one)
      return std::nullopt;
    if (one[-1] != 0 || one[-2] != 0 || nalType(one[1]) != type)
      continue;
    const auto j = static_cast<std::size_t>(one - base);
    // The four-byte reading starts one byte earlier, so it wins when it applies.
    if (j >= from + 3 && base[j - 3] == 0)
      return j - 3;
    if (j - 2 < limit)
      return j - 2;
    return std::nullopt;
  }
  return std::nullopt;
}

std::size_t unitScanStart(Bytes unit) {
  if (unit.size() <= 4)
    return 1;
  if (unit[0] == 0 && unit[1] == 0 && unit[2] == 1)
    return 4;
  if (unit[0] == 0 && unit[1] == 0 && unit[2] == 0 && unit[3] == 1)
    return 5;
  return 1;
}

std::size_t openingUnitLength(Bytes unit, std::uint8_t type) {
  const std::size_t size = unit.size();
  if (size < 6)
    return 0;
  std::size_t header;
  if (unit[0] == 0 && unit[1] == 0 && unit[2] == 0 && unit[3] == 1)
    header = 4;
  else if (unit[0] == 0 && unit[1] == 0 && unit[2] == 1)
    header = 3;
  else
    return 0;
  if (nalType(unit[header]) != type)
    return 0;
  // The next start code; the last four positions are not tested.
  const std::uint8_t *base = unit.data();
  const std::uint8_t *end = base + size - 4;
  for (const std::uint8_t *zero = base + header; zero < end; ++zero) {
    zero = findByte(zero, end, 0);
    if (!zero)
      break;
    if (zero[1] == 0 && (zero[2] == 1 || (zero[2] == 0 && zero[3] == 1)))
      return static_cast<std::size_t>(zero - base);
  }
  return size;
}

bool slicesBeforeSequenceSet(Bytes data) {
  for (std::size_t p = 0; p + 3 < data.size(); ++p) {
    if (data[p] != 0 || data[p + 1] != 0 || data[p + 2] != 1)
      continue;
    const std::uint8_t type = nalType(data[p + 3]);
    if (type == 7)
      return false;
    if (type == 1 || type == 5)
      return true;
    p += 2;
  }
  return false;
}

} // namespace kestrova::nal::annexb
