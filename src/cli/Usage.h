#pragma once

#include <string>

namespace kestrova::cli {

/// The synopsis lines, the first lines of the help. Ends with a newline.
std::string usageText();

/// The text "--help" prints: synopsis, every option of the option table, where
/// settings and tools come from and what the exit statuses mean. Ends with a
/// newline.
std::string helpText();

/// What "--version" prints: program name, version and build number, then
/// the MVC decoders this installation has (other machines of a chunked run
/// are asked it).
std::string versionText();

} // namespace kestrova::cli
