#include "pipeline/ProgressPlan.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>

namespace kestrova::pipeline {
namespace {

using S = ConversionStage;

// The spans the roads report their steps in (see the tools' parsers):
// reading up to 0.3, the interleaver at 0.3, decoding and the side-by-side
// encode from 0.5 to 0.85, the converter from 0.85 to 0.98; the one-encode
// road's converter (and the chunk jobs of every source and output) from 0.3
// to 0.98;
// ffmpeg's packing encode from 0.7 to 0.85; the frame-alternate script's
// encode from 0.1 to 0.9.
const PlannedStep kReading{{S::demuxing}, 0.0, 0.3, 3};
const PlannedStep kInterleaving{{S::interleaving}, 0.3, 0.5, 2};
const PlannedStep kConverting{{S::convertingMVHEVC}, 0.85, 0.98, 55};

std::vector<PlannedStep> withConversion(std::vector<PlannedStep> steps) {
  steps.push_back(kConverting);
  return steps;
}

} // namespace

std::vector<PlannedStep> plannedSteps(ProgressRoad road) {
  // Shares are in hundredths of the run as the pictures' costs on these
  // roads weigh: the MV-HEVC encoder of two views costs about as much as
  // the decode and side-by-side encode before it together.
  const PlannedStep piped{{S::decoding, S::encoding, S::encodingMVHEVC}, 0.5, 0.9, 95};
  const std::vector<PlannedStep> diskBased{
      kReading, kInterleaving, {{S::decoding}, 0.5, 0.7, 35}, {{S::encoding}, 0.7, 0.85, 60}};
  switch (road) {
  case ProgressRoad::mvcOneEncode:
    return {kReading, {{S::convertingMVHEVC, S::encodingMVHEVC}, 0.3, 0.98, 97}};
  case ProgressRoad::mvcChunkedSideBySide:
    return {kReading, {{S::encoding}, 0.3, 0.98, 97}};
  case ProgressRoad::mvcPiped:
    return {kReading, kInterleaving, piped};
  case ProgressRoad::mvcPipedThenSpatial:
    return withConversion({kReading, kInterleaving, {piped.stages, 0.5, 0.85, 40}});
  case ProgressRoad::mvcDiskBased:
    return diskBased;
  case ProgressRoad::mvcDiskBasedThenSpatial:
    return withConversion({kReading, kInterleaving, {{S::decoding}, 0.5, 0.7, 10}, {{S::encoding}, 0.7, 0.85, 30}});
  case ProgressRoad::packedToSideBySide:
    return {{{S::encoding}, 0.7, 0.85, 100}};
  case ProgressRoad::packedToSpatial:
    return {{{S::convertingMVHEVC}, 0.85, 0.98, 100}};
  case ProgressRoad::frameAlternate:
    return {{{S::encoding}, 0.1, 0.9, 100}};
  case ProgressRoad::frameAlternateThenSpatial:
    return withConversion({{{S::encoding}, 0.1, 0.9, 45}});
  case ProgressRoad::picturesInChunks:
    return {{{S::convertingMVHEVC}, 0.3, 0.98, 100}};
  }
  return {};
}

void ProgressPlan::follow(std::vector<PlannedStep> steps) {
  std::lock_guard lock(mutex_);
  const double total =
      std::accumulate(steps.begin(), steps.end(), 0.0, [](double sum, const PlannedStep &s) { return sum + s.share; });
  for (auto &step : steps)
    step.share = total > 0 ? step.share / total : 0;
  steps_ = std::move(steps);
  current_ = 0;
}

std::pair<ConversionStage, double> ProgressPlan::shown(ConversionStage stage, double fraction) {
  std::lock_guard lock(mutex_);
  if (stage == S::complete) {
    last_ = 1.0;
  } else if (std::isfinite(fraction)) {
    last_ = std::clamp(std::max(last_, placed(stage, fraction)), 0.0, 1.0);
  }
  return {stage, last_};
}

double ProgressPlan::placed(ConversionStage stage, double fraction) {
  if (steps_.empty())
    return fraction;
  auto holds = [stage](const PlannedStep &step) {
    return std::find(step.stages.begin(), step.stages.end(), stage) != step.stages.end();
  };
  // The first step from the current one that reports this stage in a span
  // reaching the fraction; a stage reported beyond its last span stays there.
  std::optional<std::size_t> match;
  for (std::size_t i = current_; i < steps_.size(); ++i) {
    if (!holds(steps_[i]))
      continue;
    match = i;
    if (fraction <= steps_[i].to)
      break;
  }
  if (!match)
    return last_;
  current_ = *match;
  double start = 0;
  for (std::size_t i = 0; i < current_; ++i)
    start += steps_[i].share;
  const PlannedStep &step = steps_[current_];
  const double local = step.to > step.from ? std::clamp((fraction - step.from) / (step.to - step.from), 0.0, 1.0) : 0.0;
  return start + local * step.share;
}

} // namespace kestrova::pipeline
