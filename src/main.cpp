#include "cli/AutoConvert.h"
#include "cli/ChunkCommand.h"
#include "cli/CommandLine.h"
#include "cli/Usage.h"
#include "core/Errors.h"
#include "tools/Cancellation.h"
#include "tools/GroupSentinel.h"

#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef KESTROVA_HAVE_GUI
#include "ui/Application.h"
#endif

namespace {

using kestrova::cli::OptionKey;

// Options that only a headless run can apply; the window has its own settings.
void warnAboutHeadlessOptions(const kestrova::cli::CommandLine &line) {
  for (OptionKey key : line.given)
    if (key != OptionKey::input && key != OptionKey::output)
      for (const auto &option : kestrova::cli::optionTable())
        if (option.key == key)
          std::fprintf(stderr, "kestrova: %s applies with --auto-convert only; the window uses its own settings\n",
                       std::string(option.name).c_str());
}

} // namespace

int main(int argc, char **argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  kestrova::cli::CommandLine line;
  try {
    line = kestrova::cli::parseCommandLine(arguments);
  } catch (const kestrova::cli::UsageError &error) {
    std::fprintf(stderr, "kestrova: %s\n%sTry 'kestrova --help' for more.\n", error.what(),
                 kestrova::cli::usageText().c_str());
    return 2;
  }
  // Answered before anything else starts, display or not.
  switch (line.info) {
  case kestrova::cli::InfoRequest::help:
    std::fputs(kestrova::cli::helpText().c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  case kestrova::cli::InfoRequest::version:
    std::puts(kestrova::cli::versionText().c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
  case kestrova::cli::InfoRequest::none:
    break;
  }
  // Tools' pipes may close under us (a FIFO reader that stops early); a write
  // error is handled where it happens, never by dying.
  std::signal(SIGPIPE, SIG_IGN);
  std::setlocale(LC_ALL, "");
  // Helpers whose parent dies (a script's children) become this process'
  // children instead of init's, so a cancel still finds and ends them.
  kestrova::tools::becomeChildSubreaper();
  // Every helper dies with this program, even when it is killed with -9.
  kestrova::tools::startGroupSentinel();
  if (line.encodeChunk)
    std::exit(kestrova::cli::runChunkCommand(line));
  if (line.autoConvert)
    std::exit(kestrova::cli::runAutoConvert(line));
  warnAboutHeadlessOptions(line);
#ifdef KESTROVA_HAVE_GUI
  try {
    std::vector<std::filesystem::path> files(line.inputs.begin(), line.inputs.end());
    std::optional<std::filesystem::path> output;
    if (line.output)
      output = std::filesystem::path(*line.output);
    return kestrova::ui::runApplication(argc, argv, std::move(files), std::move(output));
  } catch (const kestrova::Error &error) {
    std::fprintf(stderr, "kestrova: %s\n", error.what());
    return 1;
  }
#else
  std::fputs("This build of Kestrova has no window; run it with --auto-convert [OPTION...] FILE...\n", stderr);
  return 1;
#endif
}
