#pragma once

#include "core/OutputOptions.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::cli {

/// What the headless mode takes from its arguments (first occurrence of each option wins).
struct CommandLine {
  std::string input; ///< exactly as typed
  std::optional<std::string> output;
  std::optional<std::int64_t> durationLimit;
  /// "--overwrite": files of the output's names that exist may be replaced.
  bool overwrite = false;
};

/// What the program is asked to print instead of doing any work.
enum class InfoRequest { none, help, version };

/// The first of "--help", "-h" and "--version" among the arguments (argument 0
/// excluded). The word right after "--input", "--output" or "--duration" is
/// that option's value, so a file really named "--help" can still be given.
InfoRequest infoRequest(const std::vector<std::string> &arguments);

/// True when "--auto-convert" is among the arguments (argument 0 excluded).
bool wantsAutoConvert(const std::vector<std::string> &arguments);

/// Reads the options; nothing when "--input" is missing or empty, or when
/// "--output" is given an empty value.
std::optional<CommandLine> parseCommandLine(const std::vector<std::string> &arguments);

/// The files the window queues: the "--input" value first, then every bare
/// argument (a desktop's "Open With" passes files that way), in order. Option
/// values and anything starting with "-" are not files.
std::vector<std::string> windowInputs(const std::vector<std::string> &arguments);

/// A decimal integer: optional sign, digits only, within signed 64 bits.
std::optional<std::int64_t> parseDurationValue(std::string_view text);

/// Stored quality text to preset, by substring: "Ultra", then "High", else medium.
QualityPreset qualityFromSetting(std::string_view text);
/// Stored target text to target: "Vision" gives visionPro, anything else sbs3D.
OutputTarget targetFromSetting(std::string_view text);

/// home + "/Desktop/Kestrova Output".
std::filesystem::path defaultOutputFolder();

} // namespace kestrova::cli
