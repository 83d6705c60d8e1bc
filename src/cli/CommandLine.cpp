#include "cli/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace kestrova::cli {

namespace {
// The value after the first occurrence of `option`, if there is one.
std::optional<std::string> valueAfter(const std::vector<std::string> &arguments, std::string_view option) {
  auto it = std::find(arguments.begin() + (arguments.empty() ? 0 : 1), arguments.end(), option);
  if (it == arguments.end() || std::next(it) == arguments.end())
    return std::nullopt;
  return *std::next(it);
}
} // namespace

InfoRequest infoRequest(const std::vector<std::string> &arguments) {
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string &word = arguments[i];
    if (word == "--input" || word == "--output" || word == "--duration")
      ++i;
    else if (word == "--help" || word == "-h")
      return InfoRequest::help;
    else if (word == "--version")
      return InfoRequest::version;
  }
  return InfoRequest::none;
}

bool wantsAutoConvert(const std::vector<std::string> &arguments) {
  return arguments.size() > 1 && std::find(arguments.begin() + 1, arguments.end(), "--auto-convert") != arguments.end();
}

std::optional<CommandLine> parseCommandLine(const std::vector<std::string> &arguments) {
  auto input = valueAfter(arguments, "--input");
  if (!input || input->empty())
    return std::nullopt;
  CommandLine line;
  line.input = *input;
  line.output = valueAfter(arguments, "--output");
  if (line.output && line.output->empty())
    return std::nullopt;
  line.overwrite = std::find(arguments.begin() + 1, arguments.end(), "--overwrite") != arguments.end();
  if (auto duration = valueAfter(arguments, "--duration"))
    line.durationLimit = parseDurationValue(*duration);
  return line;
}

std::vector<std::string> windowInputs(const std::vector<std::string> &arguments) {
  static constexpr std::string_view kTakesValue[] = {"--input", "--output", "--duration"};
  std::vector<std::string> files;
  if (auto input = valueAfter(arguments, "--input"))
    files.push_back(*input);
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string &argument = arguments[i];
    if (std::find(std::begin(kTakesValue), std::end(kTakesValue), argument) != std::end(kTakesValue))
      ++i;
    else if (!argument.empty() && argument.front() != '-')
      files.push_back(argument);
  }
  return files;
}

std::optional<std::int64_t> parseDurationValue(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  // Parse the magnitude as unsigned so that INT64_MIN is accepted too.
  std::uint64_t magnitude = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  constexpr std::uint64_t maxPositive = 9223372036854775807ULL;
  if (!negative && magnitude > maxPositive)
    return std::nullopt;
  if (negative && magnitude > maxPositive + 1)
    return std::nullopt;
  if (negative)
    return magnitude == maxPositive + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
  return static_cast<std::int64_t>(magnitude);
}

QualityPreset qualityFromSetting(std::string_view text) {
  if (text.find("Ultra") != std::string_view::npos)
    return QualityPreset::ultraHigh;
  if (text.find("High") != std::string_view::npos)
    return QualityPreset::high;
  return QualityPreset::medium;
}

OutputTarget targetFromSetting(std::string_view text) {
  return text.find("Vision") != std::string_view::npos ? OutputTarget::visionPro : OutputTarget::sbs3D;
}

std::filesystem::path defaultOutputFolder() {
  const char *home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : "/") / "Desktop" / "Kestrova Output";
}

} // namespace kestrova::cli
