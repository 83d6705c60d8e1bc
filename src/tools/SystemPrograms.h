#pragma once

#include <string>

namespace kestrova::tools {

/// The fixed programs the system runs by absolute path. Held in one place so
/// that tests replace them with doubles.
struct SystemPrograms {
  std::string bash = "/bin/bash";
  std::string which = "/usr/bin/which";
};

} // namespace kestrova::tools
