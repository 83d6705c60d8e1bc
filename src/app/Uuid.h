#pragma once

#include <string>

namespace kestrova::app {

/// A fresh random version-4 UUID in upper-case canonical text.
std::string newUuidText();

} // namespace kestrova::app
