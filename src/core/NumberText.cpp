#include "core/NumberText.h"

#include <charconv>
#include <cmath>

namespace kestrova {

std::string shortestDecimalText(double value) {
  if (std::isnan(value))
    return "nan";
  if (std::isinf(value))
    return value > 0 ? "inf" : "-inf";
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, end);
  if (text.find_first_of(".e") == std::string::npos)
    text += ".0";
  return text;
}

} // namespace kestrova
