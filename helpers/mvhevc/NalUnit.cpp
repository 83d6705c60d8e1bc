#include "NalUnit.h"

#include "Bitstream.h"

#include <string_view>

namespace kestrova::mvhevc {

std::uint8_t nalTypeOf(std::span<const std::uint8_t> nal) {
  return nal.empty() ? 0xFF : static_cast<std::uint8_t>((nal[0] >> 1) & 0x3F);
}

std::uint8_t layerIdOf(std::span<const std::uint8_t> nal) {
  return nal.size() < 2 ? 0 : static_cast<std::uint8_t>(((nal[0] & 1) << 5) | (nal[1] >> 3));
}

bool isSlice(std::uint8_t type) {
  return type < 32;
}
bool isIdr(std::uint8_t type) {
  return type == 19 || type == 20;
}
bool isIrap(std::uint8_t type) {
  return type >= 16 && type <= 23;
}
bool isNonReference(std::uint8_t type) {
  return type <= 14 && type % 2 == 0;
}

std::vector<std::uint8_t> rbspOf(std::span<const std::uint8_t> nal) {
  if (nal.size() < 2) {
    throw BitstreamError("NAL unit shorter than its header");
  }
  return unescapePayload(nal.subspan(2));
}

NalBytes makeNal(std::uint8_t type, std::uint8_t layerId, std::uint8_t temporalIdPlus1,
                 std::span<const std::uint8_t> rbsp) {
  NalBytes nal;
  nal.reserve(rbsp.size() + 8);
  nal.push_back(static_cast<std::uint8_t>((type << 1) | (layerId >> 5)));
  nal.push_back(static_cast<std::uint8_t>(((layerId & 0x1F) << 3) | (temporalIdPlus1 & 7)));
  const auto escaped = escapePayload(rbsp);
  nal.insert(nal.end(), escaped.begin(), escaped.end());
  return nal;
}

std::vector<NalBytes> splitAnnexB(std::span<const std::uint8_t> stream) {
  std::vector<NalBytes> units;
  std::size_t start = std::string_view::npos;
  std::size_t i = 0;
  const auto flush = [&](std::size_t end) {
    if (start == std::string_view::npos) {
      return;
    }
    // Trailing zero bytes belong to the next start code, not to this unit.
    while (end > start && stream[end - 1] == 0) {
      --end;
    }
    if (end > start) {
      units.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(start),
                         stream.begin() + static_cast<std::ptrdiff_t>(end));
    }
  };
  while (i + 3 <= stream.size()) {
    if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
      flush(i);
      i += 3;
      start = i;
      continue;
    }
    ++i;
  }
  flush(stream.size());
  return units;
}

} // namespace kestrova::mvhevc
