#include "core/ConsoleLine.h"

#include <cstdio>
#include <ctime>
#include <fmt/format.h>

namespace kestrova {

std::string mediumTimeText(std::chrono::system_clock::time_point when) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[64];
  std::size_t length = std::strftime(text, sizeof text, "%X", &local);
  return std::string(text, length);
}

std::string printableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n') {
      out += "\n    ";
    } else if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
      out += fmt::format("\\x{:02X}", byte);
    } else if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      // U+0080..U+009F: C1 controls such as CSI, which terminals obey too.
      out += fmt::format("\\u{:04X}", static_cast<unsigned char>(text[i + 1]));
      ++i;
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

void printPlainLine(const std::string &text) {
  // One stdio call per line: stdio locks the stream for the call, so lines
  // from concurrent threads never interleave.
  std::string line = printableText(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

void printConsoleLine(const std::string &text) {
  std::string line = "[";
  line.append(mediumTimeText(std::chrono::system_clock::now())).append("] ").append(text);
  printPlainLine(line);
}

} // namespace kestrova
