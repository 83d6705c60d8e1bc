#pragma once

#include "analysis/MediaTracks.h"
#include "core/ConversionStage.h"
#include "core/Records.h"
#include "disc/DiscTitle.h"
#include "pipeline/OutputPlan.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/ProgressPlan.h"
#include "pipeline/SubtitleBurnIn.h"
#include "pipeline/SubtitleChoice.h"
#include "tools/StagedOutputs.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace kestrova::pipeline {

/// Everything one pipeline needs for one conversion, prepared by the driver.
struct PipelineRun {
  PipelineRun(PipelineEngine &engine, ConversionJob job) : engine(engine), job(std::move(job)) {}

  PipelineEngine &engine;
  ConversionJob job; ///< source, output directory, preset, codec, target, duration limit
  Stereo3DMode stereoMode = Stereo3DMode::none();
  std::int64_t width = 1920;
  std::int64_t height = 1080;
  std::int64_t frameRateNum = 24000;
  std::int64_t frameRateDen = 1001;
  double duration = 0.0;
  /// The demuxed base view's access units (one a frame pair), counted when
  /// an MVC source's views are checked; 0 before.
  std::int64_t basePictures = 0;
  std::filesystem::path workDirectory;
  /// The source's file name without its extension; output names derive from it.
  std::string baseName;
  /// The final names of what the run leaves in the output folder.
  OutputPlan outputs;
  /// Where outputs are written until the driver gives them their final names.
  std::optional<tools::StagedOutputs> staging;
  /// Where progress pairs go (a handler or the console printer).
  std::function<void(ConversionStage, double)> progress;
  /// How the road's reports become the one value per file; the road says
  /// which steps it takes.
  mutable ProgressPlan plan;
  /// For a Blu-ray disc source: what the run takes from the disc, decided
  /// before any work, and the playlist file tsMuxeR reads.
  std::optional<disc::DiscTitle> disc;
  std::filesystem::path discPlaylist;
  /// Where the sound, subtitles and chapters come from (the source, or for a
  /// disc the file its demuxed tracks were joined into), and what they are.
  std::filesystem::path trackSource;
  analysis::MediaTracks tracks;
  /// The subtitle track an MVC run burns in, chosen before the road is planned.
  SubtitleChoice subtitleChoice;
  /// The subtitle track the stacking roads burn into both eyes, once demuxed.
  std::optional<SubtitleBurnIn> burnIn;
  /// Set by the pipeline just before it builds its result; the driver's
  /// scope-exit clean-up deletes the work directory when it is set.
  bool succeeded = false;

  /// The path to write the output named `finalPath` to (its temporary name).
  std::filesystem::path writePath(const std::filesystem::path &finalPath) { return staging->stage(finalPath); }

  /// Reports the road's (stage, fraction) as the plan places it.
  void report(ConversionStage stage, double fraction) const {
    if (!progress)
      return;
    const auto [shownStage, shownFraction] = plan.shown(stage, fraction);
    progress(shownStage, shownFraction);
  }
};

} // namespace kestrova::pipeline
