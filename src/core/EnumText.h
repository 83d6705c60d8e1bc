#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace kestrova {

/// One row of an enumeration's text table: the case, its raw value (which is
/// also its display text and its stored setting value) and its case name (the
/// identifier used in console and log output).
template <class E> struct EnumRow {
  E value;
  std::string_view raw;
  std::string_view caseName;
};

/// Specialised next to each enumeration: `static constexpr std::array rows`,
/// in the enumeration's declared order.
template <class E> struct EnumText;

/// The raw value (display text) of `value`.
template <class E> constexpr std::string_view rawValue(E value) {
  for (const auto &row : EnumText<E>::rows)
    if (row.value == value)
      return row.raw;
  return {};
}

/// The case name of `value`, e.g. "decoding" for the decoding stage.
template <class E> constexpr std::string_view caseName(E value) {
  for (const auto &row : EnumText<E>::rows)
    if (row.value == value)
      return row.caseName;
  return {};
}

/// The case whose raw value equals `text` exactly (case-sensitive), or nothing.
template <class E> constexpr std::optional<E> parseRaw(std::string_view text) {
  for (const auto &row : EnumText<E>::rows)
    if (row.raw == text)
      return row.value;
  return std::nullopt;
}

/// Every case, in declared order.
template <class E> constexpr auto allCases() {
  constexpr auto &rows = EnumText<E>::rows;
  std::array<E, rows.size()> cases{};
  for (std::size_t i = 0; i < rows.size(); ++i)
    cases[i] = rows[i].value;
  return cases;
}

} // namespace kestrova
