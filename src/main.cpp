#include "cli/AutoConvert.h"
#include "cli/CommandLine.h"
#include "cli/Usage.h"
#include "tools/Cancellation.h"
#include "tools/GroupSentinel.h"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef KESTROVA_HAVE_GUI
#include "ui/Application.h"
#endif

int main(int argc, char **argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  // Answered before anything else starts, display or not.
  switch (kestrova::cli::infoRequest(arguments)) {
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
  if (kestrova::cli::wantsAutoConvert(arguments))
    std::exit(kestrova::cli::runAutoConvert(arguments));
#ifdef KESTROVA_HAVE_GUI
  return kestrova::ui::runApplication(argc, argv);
#else
  std::fputs("This build of Kestrova has no window; run it with --input <file> --auto-convert [--output <dir>]\n",
             stderr);
  return 1;
#endif
}
