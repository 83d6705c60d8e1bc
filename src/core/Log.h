#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kestrova {

/// A sink for one human-readable log line. May be called from any thread;
/// the receiver makes it safe.
using LogFn = std::function<void(const std::string &line)>;

/// What starts a log line that warns of something about the result (a
/// source shorter than it claims, a track left out): the mark and a space.
inline constexpr std::string_view kWarningMark = "\u26a0\ufe0f ";

/// Whether `line` is such a warning.
inline bool isWarningLine(std::string_view line) {
  return line.starts_with(kWarningMark);
}

} // namespace kestrova
