#pragma once

#include <filesystem>
#include <string>

namespace kestrova::tools {

/// The whole content of `file` as bytes; empty when it cannot be read
/// (a /proc entry of a process that has gone).
std::string readWholeFile(const std::filesystem::path &file);

} // namespace kestrova::tools
