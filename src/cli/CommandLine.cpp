#include "cli/CommandLine.h"

#include "app/UserDirectories.h"

#include "core/HomeDirectory.h"

#include <algorithm>
#include <charconv>
#include <fmt/format.h>

namespace kestrova::cli {

namespace {

std::string choiceList(const OptionSpec &option) {
  std::string words;
  for (const auto &choice : option.choices)
    words += (words.empty() ? "" : ", ") + std::string(choice.word);
  return words;
}

int chosen(const OptionSpec &option, const std::string &value) {
  for (const auto &choice : option.choices)
    if (choice.word == value)
      return choice.value;
  throw UsageError(fmt::format("{} does not take \"{}\"; choose one of: {}", option.name, value, choiceList(option)));
}

std::optional<std::int64_t> wholeNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+')
    text.remove_prefix(1);
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return value;
}

// A whole number from `low` to `high`, or the usage error `refusal`.
int numberIn(const std::string &value, std::int64_t low, std::int64_t high, const std::string &refusal) {
  const auto number = wholeNumber(value);
  if (!number || *number < low || *number > high)
    throw UsageError(refusal);
  return static_cast<int>(*number);
}

std::string asciiLowerCase(std::string text) {
  for (char &c : text)
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

// The switches that only set a flag, and the options whose text is kept as given.
constexpr std::pair<OptionKey, bool CommandLine::*> kFlags[] = {
    {OptionKey::autoConvert, &CommandLine::autoConvert}, {OptionKey::swapEyes, &CommandLine::swapEyes},
    {OptionKey::overwrite, &CommandLine::overwrite},     {OptionKey::keepWork, &CommandLine::keepWork},
    {OptionKey::noResume, &CommandLine::noResume},       {OptionKey::remoteOnly, &CommandLine::remoteOnly},
    {OptionKey::cutOnly, &CommandLine::cutOnly}};
constexpr std::pair<OptionKey, std::optional<std::string> CommandLine::*> kTexts[] = {
    {OptionKey::output, &CommandLine::output},
    {OptionKey::duration, &CommandLine::duration},
    {OptionKey::hosts, &CommandLine::hosts},
    {OptionKey::encodeChunk, &CommandLine::encodeChunk}};

// Puts one option's value (empty for a switch) into the command line.
void apply(CommandLine &line, const OptionSpec &option, const std::string &value) {
  for (const auto &[key, flag] : kFlags)
    if (key == option.key) {
      line.*flag = true;
      return;
    }
  for (const auto &[key, text] : kTexts)
    if (key == option.key) {
      line.*text = value;
      return;
    }
  switch (option.key) {
  case OptionKey::input:
    line.inputs.push_back(value);
    break;
  case OptionKey::target:
    line.target = static_cast<OutputTarget>(chosen(option, value));
    break;
  case OptionKey::quality:
    line.quality = static_cast<QualityPreset>(chosen(option, value));
    break;
  case OptionKey::codec:
    line.codec = static_cast<OutputCodec>(chosen(option, value));
    break;
  case OptionKey::keepSideBySide:
  case OptionKey::noKeepSideBySide:
    line.keepSideBySide = option.key == OptionKey::keepSideBySide;
    break;
  case OptionKey::layout:
    line.layout = static_cast<StereoLayout>(chosen(option, value));
    break;
  case OptionKey::playlist:
    line.playlist =
        numberIn(value, 0, 99999,
                 fmt::format("--playlist takes a playlist number such as 800 (for 00800.mpls), not \"{}\"", value));
    break;
  case OptionKey::subtitles:
    line.subtitles = asciiLowerCase(value);
    break;
  case OptionKey::subtitlePlane:
    line.subtitlePlane =
        numberIn(value, 0, 31, fmt::format("{} takes a whole number from 0 to 31, not \"{}\"", option.name, value));
    break;
  case OptionKey::subtitleDepth:
    line.subtitleDepth = numberIn(
        value, -128, 127, fmt::format("{} takes a whole number from -128 to 127, not \"{}\"", option.name, value));
    break;
  case OptionKey::jobs:
    line.jobs = numberIn(value, 1, 1024, fmt::format("--jobs takes a number of chunk jobs from 1, not \"{}\"", value));
    break;
  case OptionKey::help:
    line.info = InfoRequest::help;
    break;
  case OptionKey::version:
    line.info = InfoRequest::version;
    break;
  default: // a flag or a text, above
    break;
  }
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string> &arguments) {
  CommandLine line;
  bool optionsEnded = false;
  for (std::size_t i = 1; i < arguments.size() && line.info == InfoRequest::none; ++i) {
    const std::string &word = arguments[i];
    // A lone "-" is a word, not an option (a chunk job's missing piece).
    if (optionsEnded || word.empty() || word.front() != '-' || word == "-") {
      line.inputs.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    const auto equals = word.starts_with("--") ? word.find('=') : std::string::npos;
    const std::string name = word.substr(0, equals);
    const OptionSpec *option = findOption(name);
    if (!option)
      throw UsageError(fmt::format("unknown option \"{}\"", name));
    std::string value;
    if (option->value == ValueKind::none) {
      if (equals != std::string::npos)
        throw UsageError(fmt::format("{} takes no value", name));
    } else if (equals != std::string::npos) {
      value = word.substr(equals + 1);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      throw UsageError(fmt::format("{} needs a value ({})", name, option->valueName));
    }
    if (value.empty() && option->value != ValueKind::none && option->value != ValueKind::number)
      throw UsageError(fmt::format("{} needs a value ({}), not an empty word", name, option->valueName));
    line.given.push_back(option->key);
    apply(line, *option, value);
  }
  for (const auto &input : line.inputs)
    if (input.empty())
      throw UsageError("an empty word is no source file");
  if (line.info == InfoRequest::none && line.autoConvert && line.inputs.empty())
    throw UsageError("--auto-convert needs a source: --input FILE, or FILE");
  return line;
}

DurationReading readDuration(std::string_view text) {
  auto seconds = wholeNumber(text);
  if (seconds && *seconds > 0)
    return {*seconds, std::nullopt};
  return {std::nullopt, fmt::format("--duration \"{}\" is not a positive whole number of seconds; converting "
                                    "the whole source",
                                    text)};
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
  // The window's default too: GNOME shows no desktop folder.
  const std::filesystem::path home = requireHomeDirectory();
  return app::userVideosDirectory().value_or(home / "Videos") / "Kestrova Output";
}

} // namespace kestrova::cli
