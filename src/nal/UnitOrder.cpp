#include "nal/UnitOrder.h"

#include "nal/AnnexB.h"

#include <cstring>

namespace kestrova::nal {
namespace {

constexpr std::uint8_t kPrefixUnit = 14;

struct NalStart {
  std::size_t offset; // first byte of the start code (a four-byte code's extra zero included)
  std::uint8_t type;
};

// Every NAL unit of `data` in order. Bytes before the first start code belong
// to no unit and are left out.
std::vector<NalStart> nalStarts(std::span<const std::uint8_t> data) {
  std::vector<NalStart> starts;
  const std::uint8_t *base = data.data();
  const std::size_t size = data.size();
  for (std::size_t at = 2; at + 1 < size;) {
    const void *hit = std::memchr(base + at, 1, size - 1 - at);
    if (hit == nullptr)
      break;
    const auto one = static_cast<std::size_t>(static_cast<const std::uint8_t *>(hit) - base);
    if (base[one - 1] == 0 && base[one - 2] == 0) {
      const std::size_t start = one >= 3 && base[one - 3] == 0 ? one - 3 : one - 2;
      starts.push_back({start, annexb::nalType(base[one + 1])});
    }
    at = one + 1;
  }
  return starts;
}

} // namespace

bool opensAccessUnit(std::uint8_t nalType) {
  switch (nalType) {
  case 6:  // SEI
  case 7:  // sequence parameter set
  case 8:  // picture parameter set
  case 9:  // access unit delimiter
  case 13: // sequence parameter set extension
  case 14: // prefix unit
  case 15: // subset sequence parameter set
  case 16: // depth parameter set
  case 17:
  case 18:
  case 24: // the MVC view's delimiter on Blu-ray
    return true;
  default:
    return false;
  }
}

bool isSlice(std::uint8_t nalType) {
  return (nalType >= 1 && nalType <= 5) || nalType == kPrefixUnit || nalType == 20 || nalType == 21;
}

std::size_t UnitOrder::Pieces::size() const {
  std::size_t total = 0;
  for (std::size_t i = 0; i < count; ++i)
    total += parts[i].size();
  return total;
}

UnitOrder::Pieces UnitOrder::arrange(std::span<const std::uint8_t> payload) {
  const Carry &carried = carries_[current_];
  current_ ^= 1;
  Carry &next = carries_[current_];
  next.leading.clear();
  next.prefixes.clear();

  const auto units = nalStarts(payload);
  // The trailing run: units after the last one that cannot open an access
  // unit. A unit made only of such units keeps them (it has nothing to trail).
  std::size_t runFrom = units.size();
  while (runFrom > 0 && opensAccessUnit(units[runFrom - 1].type))
    --runFrom;
  const std::size_t end = runFrom == 0              ? payload.size()
                          : runFrom == units.size() ? payload.size()
                                                    : units[runFrom].offset;
  if (runFrom > 0) {
    for (std::size_t i = runFrom; i < units.size(); ++i) {
      const std::size_t from = units[i].offset;
      const std::size_t to = i + 1 < units.size() ? units[i + 1].offset : payload.size();
      auto &into = units[i].type == kPrefixUnit ? next.prefixes : next.leading;
      into.insert(into.end(), payload.begin() + static_cast<std::ptrdiff_t>(from),
                  payload.begin() + static_cast<std::ptrdiff_t>(to));
    }
  }
  const auto kept = payload.first(end);
  // Carried prefix units go right before the first slice; other carried
  // units (parameter sets, SEI) before everything this unit brought.
  std::size_t firstSlice = kept.size();
  for (const auto &unit : units) {
    if (unit.offset >= end)
      break;
    if (isSlice(unit.type)) {
      firstSlice = unit.offset;
      break;
    }
  }
  Pieces pieces;
  auto add = [&pieces](std::span<const std::uint8_t> part) {
    if (!part.empty())
      pieces.parts[pieces.count++] = part;
  };
  add(carried.leading);
  add(kept.first(firstSlice));
  add(carried.prefixes);
  add(kept.subspan(firstSlice));
  return pieces;
}

} // namespace kestrova::nal
