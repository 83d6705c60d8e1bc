#include "pipeline/MvcPipeline.h"
#include "pipeline/LayoutRequest.h"

#include "core/Errors.h"
#include "demux/Demux.h"
#include "nal/InterleaveError.h"
#include "pipeline/ChunkedEncode.h"
#include "pipeline/DirectMvhevcPipe.h"
#include "pipeline/DiscTracks.h"
#include "pipeline/FifoPipeline.h"
#include "pipeline/FinishedPictures.h"
#include "pipeline/InterleaveStep.h"
#include "pipeline/LdecodDecode.h"
#include "pipeline/MvcVariant.h"
#include "pipeline/MvhevcConversion.h"
#include "pipeline/ParallelDecode.h"
#include "pipeline/RoadPlan.h"
#include "pipeline/SbsEncoder.h"
#include "pipeline/SbsPipeDecode.h"
#include "pipeline/SpatialTracks.h"
#include "pipeline/StreamDecoderChoice.h"
#include "pipeline/SubtitlePreparation.h"
#include "pipeline/ViewDamage.h"
#include "pipeline/ViewDiscovery.h"
#include "pipeline/WorkSpace.h"
#include "tools/WorkDirectory.h"

#include <algorithm>
#include <fmt/format.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

/// Where one MVC conversion puts its files.
struct MvcPaths {
  fs::path sbsOutput;
  fs::path mvhevcOutput;
  fs::path fifo;
  fs::path interleaved;
  fs::path view0;
  fs::path view1;

  explicit MvcPaths(PipelineRun &run) {
    // A side-by-side file the user does not keep is only an intermediate,
    // needed when the one-encode road cannot be taken.
    sbsOutput = run.outputs.sideBySide ? run.writePath(*run.outputs.sideBySide)
                                       : run.workDirectory / (run.baseName + "_SBS.mov");
    if (run.outputs.spatial)
      mvhevcOutput = run.writePath(*run.outputs.spatial);
    fifo = run.workDirectory / "interleave_fifo.264";
    interleaved = run.workDirectory / (run.baseName + "_interleaved.264");
    view0 = run.workDirectory / "output_ViewId0000.yuv";
    view1 = run.workDirectory / "output_ViewId0001.yuv";
  }
};

LogFn verboseSink(const PipelineEngine &engine) {
  return [&engine](const std::string &line) { engine.verbose(line); };
}

void throwIfCancelled(const PipelineRun &run) {
  if (run.engine.isCancelled())
    throw ConversionError::cancelled();
}

/// Deletes an intermediate the run no longer needs; a cancel that came in
/// meanwhile ends the run here.
void freeIntermediate(const PipelineRun &run, const fs::path &file, std::string_view label) {
  tools::removeIntermediate(file, label, verboseSink(run.engine));
  throwIfCancelled(run);
}

ProgressReport progressOf(const PipelineRun &run) {
  return [&run](ConversionStage stage, double fraction) { run.report(stage, fraction); };
}

/// Seconds the encoders should expect: the limit, else the source's length,
/// else two hours (a source whose length is unknown).
double encodeDuration(const PipelineRun &run) {
  if (run.job.durationLimit)
    return static_cast<double>(*run.job.durationLimit);
  return run.duration > 0 ? run.duration : 7200.0;
}

/// The length of the base view's pictures, as the views' check counted them,
/// for a side-by-side file that ends its sound by it (one that carries
/// subtitles).
std::optional<double> countedPictureSeconds(const PipelineRun &run, const fs::path &output) {
  if (!carriesSubtitles(output) || run.basePictures <= 0)
    return std::nullopt;
  return static_cast<double>(run.basePictures) / framesPerSecond(run);
}

bool rightFirst(const PipelineRun &run) {
  return firstViewIsRight(run.stereoMode, run.disc && run.disc->playlist.baseViewIsRight);
}

ViewFiles demuxViews(PipelineRun &run, bool singleTrack) {
  // Every MVC road starts by reading the source; which road follows is known
  // only afterwards, and all of them give reading the same share.
  run.plan.follow(ProgressRoad::mvcOneEncode);
  run.report(ConversionStage::demuxing, 0.0);
  const demux::DemuxProgress demuxed = [&run](double fraction) {
    run.report(ConversionStage::demuxing, 0.3 * fraction);
  };
  run.engine.verbose("=== Step 1: Demuxing ===");
  requireSpace(run.workDirectory, estimatedViewBytes(run));
  {
    SpaceWatch watch(run.engine, run.workDirectory);
    try {
      if (run.disc) {
        demuxDiscTitle(run, demuxed);
      } else {
        demux::demux(run.engine, run.job.sourceURL, run.workDirectory, singleTrack, run.job.durationLimit, demuxed);
        run.trackSource = run.job.sourceURL;
        if (auto ffprobe = run.engine.findTool("ffprobe"))
          run.tracks = analysis::probeMediaTracks(*ffprobe, run.job.sourceURL);
      }
    } catch (const Error &) {
      watch.throwIfTripped();
      throw;
    }
    watch.throwIfTripped();
  }
  throwIfCancelled(run);
  ViewFiles views = findViewFiles(run.workDirectory, run.baseName, verboseSink(run.engine));
  checkDemuxedViews(run, views);
  return views;
}

/// Before the views are interleaved into a file beside them: room for a copy of both.
void requireInterleaveSpace(const PipelineRun &run, const ViewFiles &views) {
  std::error_code ec;
  const auto bytes = fs::file_size(views.base, ec) + (ec ? 0 : fs::file_size(views.mvc, ec));
  if (!ec)
    requireSpace(run.workDirectory, bytes);
}

/// The JM decoder may end early with status 0; its files then hold fewer
/// pictures than the base view.
void checkDecodedPictures(const PipelineRun &run, const fs::path &left, const fs::path &right) {
  const auto pictureBytes = static_cast<std::uintmax_t>(run.width * run.height * 3 / 2);
  if (pictureBytes == 0)
    return;
  std::error_code ec;
  const std::uintmax_t written = std::min(fs::file_size(left, ec), fs::file_size(right, ec));
  const auto pictures = static_cast<std::int64_t>(ec ? 0 : written / pictureBytes);
  if (missesPictures(pictures, run.basePictures))
    throw ConversionError::decodingFailed(
        fmt::format("ldecod (JM decoder) wrote {} of the film's {} pictures and ended without an error", pictures,
                    run.basePictures));
}

void encodeDecodedViews(PipelineRun &run, const MvcPaths &paths) {
  fs::path left = paths.view0, right = paths.view1;
  if (rightFirst(run)) {
    std::swap(left, right);
    run.engine.verbose("Right eye first \u2014 swapping eyes (ViewId0000=right, ViewId0001=left)");
  }
  if (!fs::exists(left) || !fs::exists(right))
    throw ConversionError::decodingFailed("YUV files not generated by ldecod");
  checkDecodedPictures(run, left, right);
  run.report(ConversionStage::encoding, 0.7);
  run.engine.verbose("=== Step 4: Encoding Full Side-by-Side 3D ===");
  SbsEncodeRequest request;
  request.leftView = left;
  request.rightView = right;
  request.audioSource = run.trackSource;
  request.output = paths.sbsOutput;
  request.preset = run.job.qualityPreset;
  request.codec = run.job.outputCodec;
  request.target = run.job.outputTarget;
  request.duration = encodeDuration(run);
  request.width = run.width;
  request.height = run.height;
  request.frameRateNum = run.frameRateNum;
  request.frameRateDen = run.frameRateDen;
  request.pictureSeconds = countedPictureSeconds(run, paths.sbsOutput);
  encodeSBS(run.engine, request, progressOf(run));
}

/// Interleave to a file, decode both views to YUV files, encode them.
void runDiskBased(PipelineRun &run, const ViewFiles &views, const MvcPaths &paths) {
  run.report(ConversionStage::interleaving, 0.3);
  run.engine.verbose("=== Step 2: Interleaving NAL units ===");
  requireInterleaveSpace(run, views);
  interleaveNALUnits(run.engine, views.base, views.mvc, paths.interleaved);
  freeIntermediate(run, views.base, "base view");
  freeIntermediate(run, views.mvc, "MVC view");
  run.engine.verbose("=== Step 3: Decoding MVC to YUV (disk-based fallback) ===");
  requireSpace(run.workDirectory, estimatedPictureBytes(run));
  {
    // The JM decoder keeps every picture it could not write in memory.
    SpaceWatch watch(run.engine, run.workDirectory);
    try {
      decodeWithLdecod(run.engine, paths.interleaved, run.workDirectory,
                       estimatedDecodedFrames(encodeDuration(run), run.frameRateNum, run.frameRateDen),
                       progressOf(run));
    } catch (const Error &) {
      watch.throwIfTripped();
      throw;
    }
    watch.throwIfTripped();
  }
  // A decoder ended by cancel() may still exit 0; do not start the encode then.
  throwIfCancelled(run);
  encodeDecodedViews(run, paths);
  freeIntermediate(run, paths.interleaved, "interleaved stream");
}

StreamDecodeRequest streamRequest(const PipelineRun &run, const fs::path &input, const fs::path &output) {
  StreamDecodeRequest request;
  request.input = input;
  request.workDirectory = run.workDirectory;
  request.audioSource = run.trackSource;
  request.output = output;
  request.rightFirst = rightFirst(run);
  request.preset = run.job.qualityPreset;
  request.codec = run.job.outputCodec;
  request.target = run.job.outputTarget;
  request.duration = encodeDuration(run);
  request.width = run.width;
  request.height = run.height;
  request.frameRateNum = run.frameRateNum;
  request.frameRateDen = run.frameRateDen;
  request.burnIn = run.burnIn;
  request.pictureSeconds = countedPictureSeconds(run, output);
  request.pictures = run.basePictures;
  return request;
}

/// The segment-parallel script, on the two view files (dual split) or on an
/// interleaved file. For an interleaved file stream mode is on: the script
/// then hands each worker its byte range through a pipe instead of copying
/// the range into a segment file first, which would write the whole
/// compressed film to disk a second time. The size hint is the interleaved
/// file's own size. The dual split cuts the view files itself, where stream
/// mode does not apply.
void runParallel(PipelineRun &run, const MvcSideBySideRoad &road, const ViewFiles &views, const MvcPaths &paths) {
  const bool dualSplit = road.variant == MvcVariant::dualSplitParallel;
  run.engine.log(dualSplit ? "=== Steps 2+3+4: Dual-split parallel pipeline \u2014 no interleaving needed ==="
                           : "=== Steps 2+3+4: Parallel pipeline \u2014 interleave \u2192 streaming split \u2192 "
                             "parallel decode+encode ===");
  run.report(ConversionStage::interleaving, 0.3);
  if (dualSplit) {
    run.engine.verbose("=== Parallel decode+encode (dual-split, segment-parallel) ===");
  } else {
    requireInterleaveSpace(run, views);
    interleaveNALUnits(run.engine, views.base, views.mvc, paths.interleaved);
    freeIntermediate(run, views.base, "base view");
    freeIntermediate(run, views.mvc, "MVC view");
    run.engine.verbose("=== Parallel decode+encode (segment-parallel) ===");
  }
  StreamDecodeRequest request = streamRequest(run, dualSplit ? views.base : paths.interleaved, paths.sbsOutput);
  // The script takes the length it finds in the stream, not the 7200-second
  // guess the single-process variants fall back on.
  request.duration = run.duration;
  request.decoder = road.decoder;
  // The script writes the side-by-side file only; MV-HEVC, when planned, is
  // the converter's step after it.
  ParallelOptions options;
  options.script = road.parallelScript.value_or(fs::path());
  if (dualSplit)
    options.dualSplitMvc = views.mvc;
  decodeSBSParallel(run.engine, request, options, progressOf(run));
  if (dualSplit) {
    freeIntermediate(run, views.base, "base view");
    freeIntermediate(run, views.mvc, "MVC view");
  }
}

/// Interleaver and decoder meet at the FIFO; nothing of the stream or its
/// pictures reaches the disk.
void runFifo(PipelineRun &run, const MvcSideBySideRoad &road, const PlacedFifo &fifo, const ViewFiles &views,
             const MvcPaths &paths) {
  run.engine.log("=== Steps 2+3+4: FIFO pipeline \u2014 interleave \u2192 decode \u2192 encode (concurrent) ===");
  StreamDecodeRequest request = streamRequest(run, fifo.path, paths.sbsOutput);
  request.decoder = road.decoder;
  runFifoPipeline(run.engine, views.base, views.mvc, request, progressOf(run));
  freeIntermediate(run, views.base, "base view");
  freeIntermediate(run, views.mvc, "MVC view");
}

/// No FIFO could be made: interleave to a file, then decode it through the pipe.
void runPipeFromFile(PipelineRun &run, const MvcSideBySideRoad &road, const ViewFiles &views, const MvcPaths &paths) {
  run.report(ConversionStage::interleaving, 0.3);
  run.engine.verbose("=== Step 2: Interleaving NAL units (fallback) ===");
  requireInterleaveSpace(run, views);
  interleaveNALUnits(run.engine, views.base, views.mvc, paths.interleaved);
  freeIntermediate(run, views.base, "base view");
  freeIntermediate(run, views.mvc, "MVC view");
  run.engine.verbose("=== Steps 3+4: Zero-disk pipeline (" + road.decoder + " \u2192 yuv_hstack \u2192 ffmpeg) ===");
  StreamDecodeRequest request = streamRequest(run, paths.interleaved, paths.sbsOutput);
  request.decoder = road.decoder;
  decodeSBSPipe(run.engine, request, progressOf(run));
  freeIntermediate(run, paths.interleaved, "interleaved stream");
}

/// The one-encode road: the decoder's view pairs go straight into the
/// MV-HEVC encoder, and into the side-by-side encoder at the same time when
/// that file is kept; nothing is encoded twice. The interleaver feeds the
/// decoder through the FIFO, or through a file where none could be made.
void runDirect(PipelineRun &run, const MvcDirectRoad &road, const std::optional<PlacedFifo> &fifo,
               const ViewFiles &views, const MvcPaths &paths) {
  run.report(ConversionStage::convertingMVHEVC, 0.3);
  StreamDecodeRequest request = streamRequest(run, paths.interleaved, paths.mvhevcOutput);
  request.decoder = road.decoder;
  request.converterTracks = spatialTrackArguments(run, run.trackSource, /*fromSideBySide=*/false);
  if (road.keepSideBySide)
    request.keptSideBySide = paths.sbsOutput;
  if (fifo) {
    request.input = fifo->path;
    InterleaverWorker worker(run.engine, views.base, views.mvc, fifo->path);
    encodeDirectMvhevc(run.engine, request, progressOf(run));
    if (auto error = worker.finish())
      std::rethrow_exception(error);
    std::error_code ignored;
    fs::remove(fifo->path, ignored);
  } else {
    requireInterleaveSpace(run, views);
    interleaveNALUnits(run.engine, views.base, views.mvc, paths.interleaved);
    encodeDirectMvhevc(run.engine, request, progressOf(run));
    freeIntermediate(run, paths.interleaved, "interleaved stream");
  }
  freeIntermediate(run, views.base, "base view");
  freeIntermediate(run, views.mvc, "MVC view");
  // The converter's exit status is not its word that the file is there.
  std::error_code ec;
  const auto size = fs::file_size(paths.mvhevcOutput, ec);
  if (ec || size == 0)
    throw ConversionError::encodingFailed("MVHEVCConverter exited successfully but wrote no MV-HEVC file (" +
                                          paths.mvhevcOutput.filename().string() + ")");
}

void runSideBySide(PipelineRun &run, const MvcSideBySideRoad &road, const std::optional<PlacedFifo> &fifo,
                   const ViewFiles &views, const MvcPaths &paths) {
  switch (road.variant) {
  case MvcVariant::dualSplitParallel:
  case MvcVariant::parallel:
    runParallel(run, road, views, paths);
    break;
  case MvcVariant::fifo:
    runFifo(run, road, fifo.value(), views, paths);
    break;
  case MvcVariant::pipeFromFile:
    runPipeFromFile(run, road, views, paths);
    break;
  case MvcVariant::diskBased:
    runDiskBased(run, views, paths);
    break;
  }
  throwIfCancelled(run);
  if (road.thenMvhevc) {
    run.report(ConversionStage::convertingMVHEVC, 0.85);
    run.engine.verbose("=== Step 5: Converting to MV-HEVC for Apple Vision Pro ===");
    convertToMVHEVC(run.engine, paths.sbsOutput, paths.mvhevcOutput, run.job.qualityPreset, progressOf(run),
                    spatialTrackArguments(run, paths.sbsOutput, /*fromSideBySide=*/true));
  }
}

ConversionResult finish(PipelineRun &run, const MvcPaths &paths) {
  throwIfCancelled(run);
  const fs::path finalOutput =
      run.outputs.spatial ? *run.outputs.spatial : run.outputs.sideBySide.value_or(paths.sbsOutput);
  run.engine.verbose("=== Pipeline complete! ===");
  run.succeeded = true;
  std::optional<std::string> kept;
  if (run.outputs.sideBySide)
    kept = fs::absolute(*run.outputs.sideBySide).string();
  return {fs::absolute(finalOutput).string(), run.workDirectory, kept};
}

void runChunked(PipelineRun &run, const std::string &decoder, const ViewFiles &views, const MvcPaths &paths) {
  encodeChunked(run, decoder, views, paths.mvhevcOutput,
                spatialTrackArguments(run, run.trackSource, /*fromSideBySide=*/false));
  freeIntermediate(run, views.base, "base view");
  freeIntermediate(run, views.mvc, "MVC view");
}

void runChunkedSideBySide(PipelineRun &run, const MvcChunkedSideBySideRoad &road, const ViewFiles &views,
                          const MvcPaths &paths) {
  encodeChunkedSideBySide(run, road.decoder, views, paths.sbsOutput);
  freeIntermediate(run, views.base, "base view");
  freeIntermediate(run, views.mvc, "MVC view");
}

std::optional<std::string> roadDecoder(const Road &road) {
  if (const auto *direct = std::get_if<MvcDirectRoad>(&road))
    return direct->decoder;
  if (const auto *chunked = std::get_if<MvcChunkedSideBySideRoad>(&road))
    return chunked->decoder;
  if (const auto *sideBySide = std::get_if<MvcSideBySideRoad>(&road))
    return sideBySide->decoder;
  return std::nullopt;
}

/// The steps the progress bar follows on the planned road.
ProgressRoad progressRoad(const Road &road, bool spatial) {
  if (std::holds_alternative<MvcDirectRoad>(road))
    return ProgressRoad::mvcOneEncode;
  if (std::holds_alternative<MvcChunkedSideBySideRoad>(road))
    return ProgressRoad::mvcChunkedSideBySide;
  const auto *sideBySide = std::get_if<MvcSideBySideRoad>(&road);
  if (sideBySide && sideBySide->variant == MvcVariant::diskBased)
    return spatial ? ProgressRoad::mvcDiskBasedThenSpatial : ProgressRoad::mvcDiskBased;
  return spatial ? ProgressRoad::mvcPipedThenSpatial : ProgressRoad::mvcPiped;
}

bool needsFifo(const Road &road) {
  if (const auto *direct = std::get_if<MvcDirectRoad>(&road))
    return direct->throughFifo;
  const auto *sideBySide = std::get_if<MvcSideBySideRoad>(&road);
  return sideBySide && sideBySide->variant == MvcVariant::fifo;
}

/// The road planned again with what the views told; said when it changed.
void replan(PipelineRun &run, const ToolInventory &tools, const SourceFacts &facts, RoadPlan &plan) {
  RoadPlan next = planRoad(tools, facts, run.outputs);
  if (next == plan)
    return;
  plan = std::move(next);
  run.engine.log(describe(plan));
}

/// Places the FIFO the road needs (planning again without one when none can
/// be made) and runs the road.
ConversionResult runPlanned(PipelineRun &run, const ToolInventory &tools, SourceFacts &facts, RoadPlan &plan,
                            const ViewFiles &views, const MvcPaths &paths) {
  replan(run, tools, facts, plan);
  std::optional<PlacedFifo> fifo;
  if (needsFifo(plan.road)) {
    std::string refusal;
    fifo = placeFifo(run.engine, paths.fifo, refusal);
    if (!fifo) {
      facts.fifoRefusal = refusal;
      replan(run, tools, facts, plan);
    }
  }
  run.plan.follow(progressRoad(plan.road, run.outputs.spatial.has_value()));
  if (const auto *direct = std::get_if<MvcDirectRoad>(&plan.road); direct && direct->chunked)
    runChunked(run, direct->decoder, views, paths);
  else if (direct)
    runDirect(run, *direct, fifo, views, paths);
  else if (const auto *chunked = std::get_if<MvcChunkedSideBySideRoad>(&plan.road))
    runChunkedSideBySide(run, *chunked, views, paths);
  else if (const auto *sideBySide = std::get_if<MvcSideBySideRoad>(&plan.road))
    runSideBySide(run, *sideBySide, fifo, views, paths);
  else if (const auto *none = std::get_if<NoRoad>(&plan.road))
    throw ConversionError::toolNotFound(none->message);
  return finish(run, paths);
}

/// A decoder's own failure: not a cancel, and not a tool stopped because the
/// disk filled (the run's space watch), which another decoder would meet too.
bool decoderFailed(const PipelineRun &run, const ConversionError &error) {
  return !run.engine.isCancelled() && error.kind() == ConversionError::Kind::decodingFailed &&
         !lowOnSpace(run.workDirectory);
}

ConversionResult runSteps(PipelineRun &run, const ToolInventory &tools, SourceFacts facts, RoadPlan plan) {
  const MvcPaths paths(run);
  for (const auto &note : run.subtitleChoice.notes)
    run.engine.log(note);
  const ViewFiles views = demuxViews(run, facts.layout.kind() == Stereo3DMode::Kind::mvcSingleTrack);
  prepareBurnIn(run, run.subtitleChoice, views.mvc);
  // A track that could not be copied out is not burned in: every road is open again.
  facts.burnIn = run.burnIn.has_value();
  if (tools.edge264Pipe) {
    facts.fastDecoderRefusal = fastDecoderRefusal(run.engine, views.base, views.mvc);
    throwIfCancelled(run);
  }
  try {
    return runPlanned(run, tools, facts, plan, views, paths);
  } catch (const ConversionError &first) {
    const std::optional<std::string> decoder = roadDecoder(plan.road);
    // The fast decoder was there but failed its check: both have failed now.
    if (decoderFailed(run, first) && decoder == kJmStreamDecoder && facts.fastDecoderRefusal && tools.edge264Pipe)
      throw damagedViewError(run.engine, views, framesPerSecond(run),
                             first.detail() + "; " + kFastStreamDecoder + " failed its check");
    // edge264 passed its check but failed further on (a damaged stretch of
    // the 3D view): the JM decoder conceals what it can.
    std::error_code ec;
    if (!decoderFailed(run, first) || decoder != kFastStreamDecoder || !fs::exists(views.base, ec) ||
        !fs::exists(views.mvc, ec))
      throw;
    run.engine.log("\u26a0\ufe0f " + first.detail() + " \u2014 decoding again with the JM decoder");
    facts.fastDecoderRefusal = first.detail();
    try {
      return runPlanned(run, tools, facts, plan, views, paths);
    } catch (const ConversionError &second) {
      if (!decoderFailed(run, second))
        throw;
      throw damagedViewError(run.engine, views, framesPerSecond(run), first.detail() + "; then " + second.detail());
    }
  }
}

} // namespace

ConversionResult runMvcPipeline(PipelineRun &run, const ToolInventory &tools, const SourceFacts &facts,
                                const RoadPlan &plan) {
  try {
    return runSteps(run, tools, facts, plan);
  } catch (const nal::InterleaveError &error) {
    if (run.engine.isCancelled())
      throw ConversionError::cancelled();
    if (error.kind() != nal::InterleaveError::Kind::accessUnitCountMismatch)
      throw;
    const bool mvcShort = error.mvcCount() < error.baseCount();
    throw ConversionError::decodingFailed(fmt::format(
        "the {} view stops at {} of {} pictures: the source is damaged or cut short", mvcShort ? "3D" : "base",
        std::min(error.baseCount(), error.mvcCount()), std::max(error.baseCount(), error.mvcCount())));
  } catch (const Error &) {
    // A tool ended by cancel() fails in its own words (a decoder's exit
    // status, a short stream); the user asked for a stop, so say that.
    if (run.engine.isCancelled())
      throw ConversionError::cancelled();
    throw;
  }
}

} // namespace kestrova::pipeline
