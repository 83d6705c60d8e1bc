#pragma once

#include "app/Clock.h"
#include "core/Records.h"

#include <optional>
#include <string>

namespace kestrova::app {

/// The smoothing state of the remaining-time estimate of one file. An absent
/// time stands for the distant past.
struct EtaState {
  std::optional<TimePoint> lastUpdate;
  std::optional<TimePoint> lastSampleTime;
  double lastProgress = 0.0;
  double smoothed = 0.0;
};

/// What one progress sample does to the remaining-time text.
struct EtaUpdate {
  enum class Kind { clear, keep, set };
  Kind kind = Kind::keep;
  std::string text; ///< the new text when kind is set
};

/// Updates `state` with the fraction `p` sampled at `now` for a file started
/// at `fileStart`: no estimate up to 5 % nor before a second sample has
/// measured a rate, a new text at most every 3 seconds, smoothed 0.3/0.7
/// between samples.
EtaUpdate updateEta(EtaState &state, TimePoint fileStart, double p, TimePoint now);

/// The estimate again when no progress has come since `lastReport`: three
/// seconds on, the file's average rate so far decides, so a stalled step
/// shows a growing estimate instead of a frozen one; at most every 3 seconds.
EtaUpdate staleEta(EtaState &state, TimePoint fileStart, double p, TimePoint lastReport, TimePoint now);

/// "N sec remaining", "M min S sec remaining" or "Hh Mm remaining" for an
/// estimate in seconds (truncated toward zero).
std::string remainingTimeText(double etaSeconds);

/// The source duration as "HH:MM:SS".
std::string durationText(const SourceFileInfo &info);

} // namespace kestrova::app
