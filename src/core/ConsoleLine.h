#pragma once

#include <chrono>
#include <string>

namespace kestrova {

/// The local time of `when` in the user's locale time format (strftime %X
/// under LC_TIME), the "medium time" of log lines.
std::string mediumTimeText(std::chrono::system_clock::time_point when);

/// Prints "[" + medium time now + "] " + text + newline on standard output,
/// whole lines only even when several threads print at once.
void printConsoleLine(const std::string &text);

/// Prints `text` + newline on standard output without a timestamp, with the
/// same whole-line guarantee.
void printPlainLine(const std::string &text);

} // namespace kestrova
