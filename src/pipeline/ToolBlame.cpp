#include "pipeline/ToolBlame.h"

#include <fmt/format.h>
#include <vector>

namespace kestrova::pipeline {

namespace {

bool saysNothing(std::string_view line) {
  return line.empty() || line.starts_with("frame=") || line.starts_with("size=") ||
         line.find("frame pairs decoded") != std::string_view::npos || line == "Conversion failed!";
}

std::string_view trimmed(std::string_view line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
    line.remove_suffix(1);
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
    line.remove_prefix(1);
  return line;
}

} // namespace

std::string reasonLine(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    lines.emplace_back(
        trimmed(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start)));
    if (end == std::string_view::npos)
      break;
    start = end + 1;
  }
  return reasonLine(lines);
}

std::string reasonLine(const std::vector<std::string> &lines) {
  // An internal check of the tool is its reason, whatever it printed after;
  // then an encoder library's own error ("x265 [error]: …"), which ffmpeg
  // follows with its generic words; then the last line that calls itself an
  // error; then the last line.
  std::string last, error, libraryError;
  for (const auto &raw : lines) {
    std::string_view line = trimmed(raw);
    if (line.find("Assertion `") != std::string_view::npos)
      return kInternalCheckText;
    if (saysNothing(line) || line.find("WARNING") != std::string_view::npos)
      continue;
    last = line;
    if (line.find("rror") != std::string_view::npos || line.find("failed") != std::string_view::npos ||
        line.find("cannot") != std::string_view::npos)
      error = line;
    if (line.find(" [error]: ") != std::string_view::npos)
      libraryError = line;
  }
  if (!libraryError.empty())
    return libraryError;
  return error.empty() ? last : error;
}

std::string withoutInternalCheck(const std::string &line) {
  // "PROGRAM: FILE:LINE: FUNCTION: Assertion `...' failed.": the words before
  // FILE (who said it) stay.
  std::size_t at = line.find("Assertion `");
  if (at == std::string::npos)
    return line;
  for (int separator = 0; separator < 3 && at != std::string::npos && at > 0; ++separator)
    at = line.rfind(": ", at - 1);
  return (at == std::string::npos ? std::string() : line.substr(0, at + 2)) + kInternalCheckText;
}

void TextTail::feed(std::string_view chunk) {
  constexpr std::size_t kKept = 16384;
  text_.append(chunk);
  if (text_.size() > 2 * kKept)
    text_.erase(0, text_.size() - kKept);
}

std::string toolFailureText(std::string_view name, std::string_view role, int status, const std::string &reason) {
  if (!reason.empty())
    return fmt::format("{} ({}) failed: {}", name, role, reason);
  if (status > 128)
    return fmt::format("{} ({}) was ended by signal {}", name, role, status - 128);
  return fmt::format("{} ({}) exited with code {}", name, role, status);
}

} // namespace kestrova::pipeline
