#pragma once

#include <string>
#include <string_view>

namespace kestrova::tools {

/// `text` in single quotes, each quote in it written '\'' : one word of a
/// POSIX shell, and a name as a line of ffmpeg's concat list reads it.
std::string singleQuoted(std::string_view text);

} // namespace kestrova::tools
