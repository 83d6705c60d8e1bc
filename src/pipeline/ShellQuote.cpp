#include "pipeline/ShellQuote.h"

namespace kestrova::pipeline {

std::string shellQuote(std::string_view text) {
  // Inside single quotes bash expands nothing; only the quote itself needs
  // closing, escaping and reopening.
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  quoted += "'";
  return quoted;
}

std::string quotedWords(const std::vector<std::string> &words) {
  std::string text;
  for (const auto &word : words) {
    if (!text.empty())
      text += ' ';
    text += shellQuote(word);
  }
  return text;
}

} // namespace kestrova::pipeline
