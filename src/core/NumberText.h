#pragma once

#include <string>

namespace kestrova {

/// The shortest decimal text that reads back as the same double, with ".0"
/// added to whole numbers: 5400 gives "5400.0", 0.1 gives "0.1".
std::string shortestDecimalText(double value);

} // namespace kestrova
