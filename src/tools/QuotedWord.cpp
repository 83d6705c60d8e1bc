#include "tools/QuotedWord.h"

namespace kestrova::tools {

std::string singleQuoted(std::string_view text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string_view("'\\''") : std::string_view(&c, 1);
  return quoted + "'";
}

} // namespace kestrova::tools
