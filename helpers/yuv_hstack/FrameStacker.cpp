#include "FrameStacker.h"

#include <cstring>

namespace kestrova::helpers {

namespace {
void stackPlane(const std::uint8_t *left, const std::uint8_t *right, std::uint8_t *out, std::size_t width,
                std::size_t rows) {
  for (std::size_t row = 0; row < rows; ++row) {
    std::memcpy(out, left, width);
    std::memcpy(out + width, right, width);
    left += width;
    right += width;
    out += 2 * width;
  }
}
} // namespace

void stackSideBySide(const PlanarGeometry &g, std::span<const std::uint8_t> left, std::span<const std::uint8_t> right,
                     std::span<std::uint8_t> out) {
  const std::size_t luma = g.width * g.height;
  const std::size_t chroma = g.chromaWidth() * g.chromaHeight();
  stackPlane(left.data(), right.data(), out.data(), g.width, g.height);
  stackPlane(left.data() + luma, right.data() + luma, out.data() + 2 * luma, g.chromaWidth(), g.chromaHeight());
  stackPlane(left.data() + luma + chroma, right.data() + luma + chroma, out.data() + 2 * (luma + chroma),
             g.chromaWidth(), g.chromaHeight());
}

std::vector<iovec> sideBySideRows(const PlanarGeometry &g, const std::uint8_t *left, const std::uint8_t *right) {
  std::vector<iovec> rows;
  rows.reserve(2 * (g.height + 2 * g.chromaHeight()));
  auto addPlane = [&rows](const std::uint8_t *l, const std::uint8_t *r, std::size_t width, std::size_t height) {
    for (std::size_t row = 0; row < height; ++row) {
      // writev never writes through these pointers; the cast is iovec's.
      rows.push_back({const_cast<std::uint8_t *>(l + row * width), width});
      rows.push_back({const_cast<std::uint8_t *>(r + row * width), width});
    }
  };
  const std::size_t luma = g.width * g.height;
  const std::size_t chroma = g.chromaWidth() * g.chromaHeight();
  addPlane(left, right, g.width, g.height);
  addPlane(left + luma, right + luma, g.chromaWidth(), g.chromaHeight());
  addPlane(left + luma + chroma, right + luma + chroma, g.chromaWidth(), g.chromaHeight());
  return rows;
}

} // namespace kestrova::helpers
