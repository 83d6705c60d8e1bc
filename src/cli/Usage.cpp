#include "cli/Usage.h"

#include "cli/OptionTable.h"
#include "pipeline/ChunkHosts.h"
#include "pipeline/PipelineEngine.h"

#include <fmt/format.h>

#ifndef KESTROVA_VERSION
#error "the build defines KESTROVA_VERSION"
#endif

namespace kestrova::cli {

namespace {

// "--target sbs|vision-pro", "-h, --help", "    --version".
std::string optionForm(const OptionSpec &option) {
  std::string form = option.alias.empty() ? "    " : std::string(option.alias) + ", ";
  form += option.name;
  if (option.value == ValueKind::choice) {
    std::string words;
    for (const auto &choice : option.choices)
      words += (words.empty() ? "" : "|") + std::string(choice.word);
    form += " " + words;
  } else if (option.value != ValueKind::none) {
    form += " " + std::string(option.valueName);
  }
  return form;
}

} // namespace

std::string usageText() {
  return "Usage: kestrova [OPTION...] [FILE...]\n"
         "       kestrova --auto-convert [OPTION...] FILE...\n"
         "       kestrova --help | --version\n";
}

std::string helpText() {
  std::string text = usageText();
  text += R"(
Converts stereoscopic 3D video (Blu-ray 3D H.264 MVC streams, frame-alternate
and side-by-side files) into a Full Side-by-Side 3D file or MV-HEVC spatial
video for Apple Vision Pro. Without --auto-convert the window opens with the
FILEs queued; with it each FILE is converted in turn, without a window.

Options:
)";
  // A form wider than the column gets its summary on the next line.
  constexpr std::size_t column = 24;
  for (const auto &option : optionTable()) {
    const std::string form = optionForm(option);
    if (form.size() > column)
      text += fmt::format("  {}\n  {:<{}}  {}\n", form, "", column, option.summary);
    else
      text += fmt::format("  {:<{}}  {}\n", form, column, option.summary);
  }
  text += R"(
Options given here apply to this run only. Without them the target, quality and
keepSBSIntermediate come from the settings the window stores in
$XDG_CONFIG_HOME/kestrova/settings.json (default ~/.config/kestrova/settings.json).
The tools (ffmpeg, ffprobe, tsmuxer, ldecod, MVHEVCConverter...) are looked for
first in the tools folder beside the program, PREFIX/share/kestrova/tools.

Exit status:
  0    every FILE was converted (or --help/--version answered)
  1    at least one FILE could not be converted; each has its own status line
  2    the command line is wrong (an unknown option, a missing or wrong value)
  130  interrupted (Ctrl-C); 143 when terminated: unfinished files are removed
Manual: man kestrova
)";
  return text;
}

std::string versionText() {
  return pipeline::versionAnswer(
      fmt::format("Kestrova {} (Build {})", KESTROVA_VERSION, pipeline::PipelineEngine::kBuildNumber),
      tools::ToolLocator(tools::BundlePaths::forRunningExecutable()));
}

} // namespace kestrova::cli
