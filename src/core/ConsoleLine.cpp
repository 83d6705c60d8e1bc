#include "core/ConsoleLine.h"

#include <cstdio>
#include <ctime>

namespace kestrova {

std::string mediumTimeText(std::chrono::system_clock::time_point when) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[64];
  std::size_t length = std::strftime(text, sizeof text, "%X", &local);
  return std::string(text, length);
}

void printPlainLine(const std::string &text) {
  // One stdio call per line: stdio locks the stream for the call, so lines
  // from concurrent threads never interleave.
  std::string line = text + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

void printConsoleLine(const std::string &text) {
  std::string line = "[";
  line.append(mediumTimeText(std::chrono::system_clock::now())).append("] ").append(text);
  printPlainLine(line);
}

} // namespace kestrova
