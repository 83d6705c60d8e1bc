#include "core/Utf8.h"

#include <cstddef>
#include <fmt/format.h>

namespace kestrova {

namespace {

/// The length of the well-formed UTF-8 sequence at `at`, 0 when there is none.
std::size_t sequenceLength(std::string_view text, std::size_t at) {
  auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = lead < 0x80             ? 1
                       : (lead & 0xE0) == 0xC0 ? 2
                       : (lead & 0xF0) == 0xE0 ? 3
                       : (lead & 0xF8) == 0xF0 ? 4
                                               : 0;
  if (length == 0 || at + length > text.size())
    return 0;
  for (std::size_t k = 1; k < length; ++k)
    if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80)
      return 0;
  return length;
}

} // namespace

bool isValidUtf8(std::string_view text) {
  for (std::size_t i = 0, length; i < text.size(); i += length)
    if ((length = sequenceLength(text, i)) == 0)
      return false;
  return true;
}

std::string escapedForLog(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t length = sequenceLength(text, i); length != 0) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      out += fmt::format("\\x{:02x}", static_cast<unsigned char>(text[i++]));
    }
  }
  return out;
}

} // namespace kestrova
