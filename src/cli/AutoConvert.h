#pragma once

#include "cli/CommandLine.h"

namespace kestrova::cli {

/// The headless conversion of every source of `line`, one after another:
/// prints the banner, converts with the command line's options over the
/// stored settings, prints timestamped lines and one status line per source
/// (and a closing line for a batch), and returns the process' exit status:
/// 0 when every source was converted, 1 when any was not, 128 + N after
/// signal N stopped the run.
int runAutoConvert(const CommandLine &line);

} // namespace kestrova::cli
