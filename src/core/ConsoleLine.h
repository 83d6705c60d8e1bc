#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace kestrova {

/// The local time of `when` in the user's locale time format (strftime %X
/// under LC_TIME), the "medium time" of log lines.
std::string mediumTimeText(std::chrono::system_clock::time_point when);

/// `text` made safe for a terminal: control characters (C0 but tab, DEL, C1)
/// become visible escapes ("\x1B", "\u009B"), so a file or tool name can
/// neither drive the terminal nor forge a line; a line break is kept but the
/// next line is indented by four spaces, so it never passes for a line of
/// its own.
std::string printableText(std::string_view text);

/// Prints "[" + medium time now + "] " + printable text + newline on standard
/// output, whole lines only even when several threads print at once.
void printConsoleLine(const std::string &text);

/// Prints printable `text` + newline on standard output without a timestamp,
/// with the same whole-line guarantee.
void printPlainLine(const std::string &text);

} // namespace kestrova
