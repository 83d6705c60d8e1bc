#pragma once

#include <string>
#include <string_view>

namespace kestrova {

/// True when `text` is a sequence of well-formed UTF-8 lead and continuation
/// bytes. Tool output that fails this is treated as unreadable rather than
/// shown or parsed, so that a stray binary byte never reaches a log or a
/// JSON parser half-decoded.
bool isValidUtf8(std::string_view text);

/// `text` with every byte that is not part of well-formed UTF-8 written as
/// \xNN, so that a tool's stray Latin-1 or binary byte can be logged.
std::string escapedForLog(std::string_view text);

} // namespace kestrova
