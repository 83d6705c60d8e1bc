#pragma once

#include "core/ConversionStage.h"

#include <mutex>
#include <utility>
#include <vector>

namespace kestrova::pipeline {

/// One step of a road as the progress bar sees it: the stages the road
/// reports during it, the span of the road's own fractions it reports them
/// in (the tools' parsers each have theirs), and its share of the whole run.
struct PlannedStep {
  std::vector<ConversionStage> stages;
  double from = 0;
  double to = 1;
  double share = 1;
};

/// The roads whose steps are known, by what they do to the pictures.
enum class ProgressRoad {
  /// Disc or MVC file, both eyes decoded once straight into the MV-HEVC encoder.
  mvcOneEncode,
  /// Disc or MVC file in chunks, each decoded and encoded side by side on its own.
  mvcChunkedSideBySide,
  /// Both eyes decoded through a pipe into the side-by-side encoder (then,
  /// for Vision Pro, converted from that file).
  mvcPiped,
  mvcPipedThenSpatial,
  /// Decoded to picture files first, then encoded from them.
  mvcDiskBased,
  mvcDiskBasedThenSpatial,
  /// A packed source (side by side, top and bottom) encoded by ffmpeg, or
  /// converted to MV-HEVC by the converter alone.
  packedToSideBySide,
  packedToSpatial,
  /// Frame-alternate: ffmpeg's encode, then the conversion for Vision Pro.
  frameAlternate,
  frameAlternateThenSpatial,
  /// Packed or frame-alternate pictures to MV-HEVC in chunks, each converted on its own.
  picturesInChunks,
};

/// The steps of `road`. Reading a disc or an MVC file is a small share,
/// since the encoders take nearly all of a film's time.
std::vector<PlannedStep> plannedSteps(ProgressRoad road);

/// Turns a road's (stage, fraction) reports into the one value per file that
/// the window and the console show: each step fills its share as the road's
/// counter (pictures, or bytes while reading) rises through the step's span,
/// a step's first report starts it at zero, and the value never goes back.
/// The stage shown is the one reported. Safe to call from several threads.
class ProgressPlan {
public:
  ProgressPlan() = default;
  ProgressPlan(const ProgressPlan &) = delete;
  ProgressPlan &operator=(const ProgressPlan &) = delete;

  /// Follows `steps` from here on; the value reached so far stays.
  void follow(std::vector<PlannedStep> steps);
  void follow(ProgressRoad road) { follow(plannedSteps(road)); }

  /// The shown stage and fraction for a report of the road. Without steps
  /// the fraction is the reported one, held from going back.
  std::pair<ConversionStage, double> shown(ConversionStage stage, double fraction);

private:
  double placed(ConversionStage stage, double fraction);

  std::mutex mutex_;
  std::vector<PlannedStep> steps_;
  std::size_t current_ = 0;
  double last_ = 0;
};

} // namespace kestrova::pipeline
