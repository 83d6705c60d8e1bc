#pragma once

#include <string>

namespace kestrova::cli {

/// The manual page's OPTIONS section, from ".SH OPTIONS" up to the next
/// section, made from the option table; data/kestrova.1 holds it verbatim.
std::string manualOptionsSection();

/// The bash completion script made from the option table;
/// data/kestrova.bash-completion holds it verbatim.
std::string bashCompletionScript();

} // namespace kestrova::cli
