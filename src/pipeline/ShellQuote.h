#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrova::pipeline {

/// One bash word that stands for `text` exactly, whatever bytes it holds
/// (blanks, quotes, $, backquotes, backslashes, $(...), newlines): the text
/// in single quotes, each single quote written as '\''.
std::string shellQuote(std::string_view text);

/// `words` each shell-quoted, separated by one blank.
std::string quotedWords(const std::vector<std::string> &words);

} // namespace kestrova::pipeline
