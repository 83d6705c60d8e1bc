#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <sys/uio.h>
#include <vector>

namespace kestrova::helpers {

/// Geometry of one planar 4:2:0 picture and its side-by-side double.
struct PlanarGeometry {
  std::size_t width;
  std::size_t height;

  std::size_t chromaWidth() const { return (width + 1) / 2; }
  std::size_t chromaHeight() const { return (height + 1) / 2; }
  std::size_t frameBytes() const { return width * height + 2 * chromaWidth() * chromaHeight(); }
};

/// Writes `left` and `right` (one planar 4:2:0 picture each) as one picture
/// of twice the width into `out` (2 x frameBytes()), plane by plane, row by row.
void stackSideBySide(const PlanarGeometry &geometry, std::span<const std::uint8_t> left,
                     std::span<const std::uint8_t> right, std::span<std::uint8_t> out);

/// The side-by-side picture of `left` and `right` as a list of row pieces
/// pointing into them, in output order (left row, right row, next row...),
/// for writev: the stacked picture reaches the output without being copied
/// in between. The pieces stay valid as long as both inputs do.
std::vector<iovec> sideBySideRows(const PlanarGeometry &geometry, const std::uint8_t *left, const std::uint8_t *right);

} // namespace kestrova::helpers
