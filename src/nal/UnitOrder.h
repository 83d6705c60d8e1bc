#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kestrova::nal {

/// Which access unit a NAL unit belongs to, by its type alone: the types
/// that can only come before the pictures of an access unit (parameter sets,
/// SEI, prefix units, delimiters) open the next one when they follow the
/// last slice of the current one.
bool opensAccessUnit(std::uint8_t nalType);
/// Slices of either view, and the prefix unit that travels with a base slice.
bool isSlice(std::uint8_t nalType);

/// Puts each NAL unit of a view's stream into the access unit it belongs to.
///
/// tsMuxeR cuts a view's stream at its delimiters but writes some units
/// early: the prefix unit (type 14) of a base picture lands before the
/// delimiter of that picture's access unit, at the end of the previous one,
/// and parameter sets can do the same. Given the access units in order as a
/// delimiter-based reader hands them out (delimiter removed), this moves
/// every unit that trails the last slice and can only open an access unit
/// into the next one, and puts prefix units directly in front of the first
/// slice, where a decoder expects them. Units that trail the last access
/// unit of the stream have no picture to go with and are dropped.
class UnitOrder {
public:
  /// At most four pieces of the unit in decoding order. They point into
  /// `payload` and into this object, and stay valid until the next call.
  struct Pieces {
    std::array<std::span<const std::uint8_t>, 4> parts;
    std::size_t count = 0;
    std::size_t size() const;
  };

  /// The access unit `payload` with what the previous one carried over, in
  /// decoding order; keeps this unit's trailing units for the next call.
  Pieces arrange(std::span<const std::uint8_t> payload);

private:
  // Carried units: parameter sets and SEI, and prefix units, each copied in
  // stream order. Two sets alternate so that the pieces handed out stay
  // valid while the next carry is gathered.
  struct Carry {
    std::vector<std::uint8_t> leading;
    std::vector<std::uint8_t> prefixes;
  };
  std::array<Carry, 2> carries_;
  std::size_t current_ = 0;
};

} // namespace kestrova::nal
