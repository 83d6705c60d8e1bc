#pragma once

#include <string>
#include <string_view>

namespace kestrova::pipeline {

/// One bash word that stands for `text` exactly, whatever bytes it holds
/// (blanks, quotes, $, backquotes, backslashes, $(...), newlines): the text
/// in single quotes, each single quote written as '\''.
std::string shellQuote(std::string_view text);

} // namespace kestrova::pipeline
