#pragma once

#include <string>
#include <vector>

namespace kestrova::cli {

/// The headless one-shot conversion: parses the arguments, prints the banner,
/// converts with the stored quality and target, prints timestamped lines and
/// returns the process' exit status (0 success, 1 usage or failure).
int runAutoConvert(const std::vector<std::string> &arguments);

} // namespace kestrova::cli
