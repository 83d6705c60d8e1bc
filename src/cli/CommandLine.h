#pragma once

#include "cli/OptionTable.h"
#include "core/Errors.h"
#include "core/OutputOptions.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::cli {

/// A command line that cannot be run: an unknown option, a missing or wrong
/// value. `what()` names the option and the word.
class UsageError : public Error {
public:
  using Error::Error;
};

/// What the program is asked to print instead of doing any work.
enum class InfoRequest { none, help, version };

/// The arguments as read against the option table. A later occurrence of an
/// option replaces an earlier one; sources accumulate.
struct CommandLine {
  /// "--help"/"-h" or "--version"; reading stops at the first of them.
  InfoRequest info = InfoRequest::none;
  bool autoConvert = false;
  /// The "--input" values and the plain arguments, in the order given.
  std::vector<std::string> inputs;
  std::optional<std::string> output;
  std::optional<OutputTarget> target;
  std::optional<QualityPreset> quality;
  std::optional<OutputCodec> codec;
  /// "--keep-sbs" (true) or "--no-keep-sbs" (false), whichever came last.
  std::optional<bool> keepSideBySide;
  StereoLayout layout = StereoLayout::automatic;
  bool swapEyes = false;
  std::optional<int> playlist;
  /// The "--duration" value as typed; readDuration says what it means.
  std::optional<std::string> duration;
  bool overwrite = false;
  bool keepWork = false;
  /// "--subtitles" as typed, lower-cased; "--subtitle-plane" and "--subtitle-depth".
  std::optional<std::string> subtitles;
  std::optional<int> subtitlePlane;
  std::optional<int> subtitleDepth;
  std::optional<int> jobs;
  bool noResume = false;
  std::optional<std::string> hosts;
  bool remoteOnly = false;
  /// "--encode-chunk": the one chunk job's words (base piece first, the rest
  /// taken from the plain arguments).
  std::optional<std::string> encodeChunk;
  /// "--cut-only": cut into chunks and list their jobs, encode nothing.
  bool cutOnly = false;
  /// Every option given, in order, for what a window run cannot apply.
  std::vector<OptionKey> given;
};

/// Reads `arguments` (program name first) from left to right. The word after
/// an option that takes a value is that value whatever it looks like
/// ("--output --overwrite" names the folder "--overwrite"); "--name=value"
/// works too. A word starting with "-" that names no option, an option
/// without its value, an empty source or folder, a choice that is none of the
/// option's words and a playlist that is no playlist number throw UsageError.
/// After "--" every word is a source.
CommandLine parseCommandLine(const std::vector<std::string> &arguments);

/// What a "--duration" text means: a limit in seconds when it is a positive
/// whole number, otherwise no limit and the words telling the user why.
struct DurationReading {
  std::optional<std::int64_t> limit;
  std::optional<std::string> warning;
};
DurationReading readDuration(std::string_view text);

/// Stored quality text to preset, by substring: "Ultra", then "High", else medium.
QualityPreset qualityFromSetting(std::string_view text);
/// Stored target text to target: "Vision" gives visionPro, anything else sbs3D.
OutputTarget targetFromSetting(std::string_view text);

/// home + "/Desktop/Kestrova Output"; NoHomeError without a home.
std::filesystem::path defaultOutputFolder();

} // namespace kestrova::cli
