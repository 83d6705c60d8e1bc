#pragma once

#include <chrono>

namespace kestrova::app {

using TimePoint = std::chrono::system_clock::time_point;

/// The wall clock the model reads for run times, ETA and log stamps;
/// replaced in tests so that times are chosen, not waited for.
class Clock {
public:
  virtual ~Clock() = default;
  virtual TimePoint now() const = 0;
};

/// The real system clock.
class SystemClock final : public Clock {
public:
  TimePoint now() const override { return std::chrono::system_clock::now(); }
};

} // namespace kestrova::app
