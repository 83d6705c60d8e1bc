#pragma once

#include <string>

namespace kestrova::cli {

/// The text "--help" prints: synopsis, every option, where settings and tools
/// come from. Ends with a newline.
std::string helpText();

/// The line "--version" prints: program name, version and build number.
std::string versionText();

} // namespace kestrova::cli
