#include "PipeArguments.h"

#include <charconv>

namespace kestrova::helpers {

std::optional<PipeArguments> parsePipeArguments(const std::vector<std::string> &arguments) {
  PipeArguments parsed;
  bool named = false;
  const std::size_t count = arguments.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::string &word = arguments[i];
    const bool hasValue = i + 1 < count;
    if (word == "--check") {
      parsed.check = true;
    } else if (word == "--locate") {
      parsed.locate = true;
    } else if (word == "--views" && i + 2 < count) {
      parsed.views[0] = arguments[i + 1];
      parsed.views[1] = arguments[i + 2];
      i += 2;
    } else if (word == "--threads" && hasValue) {
      const std::string &value = arguments[++i];
      auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), parsed.threads);
      if (error != std::errc() || end != value.data() + value.size() || parsed.threads < -1)
        return std::nullopt;
    } else if ((word == "-i" || word == "-o" || word == "-p") && hasValue) {
      const std::string &value = arguments[++i];
      if (word == "-i") {
        parsed.stream = value, named = true;
      } else if (word == "-p" && value.starts_with("InputFile=")) {
        parsed.stream = value.substr(10), named = true;
      }
    } else {
      return std::nullopt;
    }
  }
  if (named == parsed.views[0].has_value() || (named && parsed.stream.empty()))
    return std::nullopt;
  return parsed;
}

} // namespace kestrova::helpers
