#pragma once

#include <functional>
#include <string>

namespace kestrova {

/// A sink for one human-readable log line. May be called from any thread;
/// the receiver makes it safe.
using LogFn = std::function<void(const std::string &line)>;

} // namespace kestrova
