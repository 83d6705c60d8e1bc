#include "app/ProgressEta.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <fmt/format.h>

namespace kestrova::app {

namespace {

double secondsBetween(TimePoint from, TimePoint to) {
  return std::chrono::duration<double>(to - from).count();
}

// Clamps before the cast: a wild fraction must not turn into undefined
// behaviour in the conversion to an integer.
std::int64_t wholeSeconds(double seconds) {
  if (!std::isfinite(seconds))
    return 0;
  return static_cast<std::int64_t>(std::clamp(std::trunc(seconds), -9.0e18, 9.0e18));
}

} // namespace

std::string remainingTimeText(double eta) {
  std::int64_t s = wholeSeconds(eta);
  if (eta < 60)
    return fmt::format("{} sec remaining", s);
  if (eta < 3600)
    return fmt::format("{} min {} sec remaining", s / 60, s % 60);
  return fmt::format("{}h {}m remaining", s / 3600, (s % 3600) / 60);
}

EtaUpdate updateEta(EtaState &state, TimePoint fileStart, double p, TimePoint now) {
  if (p <= 0.05)
    return {EtaUpdate::Kind::clear, {}};
  if (state.lastUpdate && secondsBetween(*state.lastUpdate, now) < 3.0)
    return {EtaUpdate::Kind::keep, {}};

  auto fromElapsed = [&] { return (1.0 - p) * secondsBetween(fileStart, now) / p; };
  auto sample = [&] {
    state.lastUpdate = now;
    state.lastSampleTime = now;
    state.lastProgress = p;
  };
  // A fraction that arrives at once says nothing about speed: the first
  // sample only starts the clock, or a step that begins far in would read
  // as "0 sec remaining".
  if (!state.lastSampleTime) {
    sample();
    return {EtaUpdate::Kind::clear, {}};
  }
  double eta = 0.0;
  {
    double dt = secondsBetween(*state.lastSampleTime, now);
    double dp = p - state.lastProgress;
    if (dt > 0 && dp > 0.001) {
      double instant = (1.0 - p) / (dp / dt);
      eta = state.smoothed > 0 ? 0.3 * instant + 0.7 * state.smoothed : instant;
    } else {
      eta = fromElapsed();
    }
  }
  state.smoothed = eta;
  sample();
  return {EtaUpdate::Kind::set, remainingTimeText(eta)};
}

EtaUpdate staleEta(EtaState &state, TimePoint fileStart, double p, TimePoint lastReport, TimePoint now) {
  if (p <= 0.05 || p >= 1 || !state.lastSampleTime || secondsBetween(lastReport, now) < 3.0)
    return {EtaUpdate::Kind::keep, {}};
  if (state.lastUpdate && secondsBetween(*state.lastUpdate, now) < 3.0)
    return {EtaUpdate::Kind::keep, {}};
  // The sample stays where the last report was, so the next report measures
  // its rate across the stall.
  state.lastUpdate = now;
  double eta = (1.0 - p) * secondsBetween(fileStart, now) / p;
  state.smoothed = eta;
  return {EtaUpdate::Kind::set, remainingTimeText(eta)};
}

std::string durationText(const SourceFileInfo &info) {
  return formatDurationText(info.duration);
}

} // namespace kestrova::app
