#pragma once

#include <span>
#include <string_view>

namespace kestrova::cli {

/// Every option the program knows.
enum class OptionKey {
  input,
  output,
  autoConvert,
  target,
  quality,
  codec,
  keepSideBySide,
  noKeepSideBySide,
  layout,
  swapEyes,
  playlist,
  duration,
  overwrite,
  keepWork,
  subtitles,
  subtitlePlane,
  subtitleDepth,
  jobs,
  noResume,
  hosts,
  remoteOnly,
  encodeChunk,
  cutOnly,
  help,
  version
};

/// What an option's value is; also what the shell completes it with.
enum class ValueKind {
  none,       ///< a switch
  sourceFile, ///< a video file or a disc
  folder,
  number,
  word,  ///< free text, such as a language code
  choice ///< one word of the option's choices
};

/// One word an option of ValueKind::choice accepts and the enumeration case
/// it stands for (cast to int; the parser casts it back).
struct Choice {
  std::string_view word;
  int value;
};

/// One row of the option table. The parser, `--help`, the manual page's
/// OPTIONS section and the bash completion are all made from these rows.
struct OptionSpec {
  OptionKey key;
  std::string_view name;  ///< "--input"
  std::string_view alias; ///< "-h", or empty
  ValueKind value = ValueKind::none;
  std::string_view valueName = {}; ///< "FILE", for the help and the manual
  std::span<const Choice> choices = {};
  std::string_view summary = {}; ///< the help line
  std::string_view manual = {};  ///< the manual's paragraph, in man(7) markup
};

/// The rows, in the order the help lists them.
std::span<const OptionSpec> optionTable();

/// The row whose name or alias is exactly `word`, or null.
const OptionSpec *findOption(std::string_view word);

} // namespace kestrova::cli
