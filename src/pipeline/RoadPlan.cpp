#include "pipeline/RoadPlan.h"

#include "pipeline/StreamDecoderChoice.h"
#include "tools/StepContext.h"

#include <fmt/format.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

ToolInventory takeInventory(const tools::StepContext &tools) {
  ToolInventory inventory;
  inventory.edge264Pipe = tools.findTool(kFastStreamDecoder).has_value();
  inventory.ldecod = tools.findTool("ldecod").has_value();
  inventory.yuvHstack = tools.findTool("yuv_hstack").has_value();
  inventory.mvhevcConverter = tools.findTool("MVHEVCConverter").has_value();
  inventory.chunkTools =
      tools.findTool("nal-scan") && tools.findTool("nal-dual-split") && tools.findTool("nal-interleave");
  const auto ldecodPipe = tools.findTool(kJmStreamDecoder);
  inventory.ldecodPipe = ldecodPipe.has_value();
  if (ldecodPipe) {
    // The segment script and its helpers are found beside the decoder they drive.
    const fs::path folder = fs::path(*ldecodPipe).parent_path();
    std::error_code ec;
    if (fs::exists(folder / "parallel-pipeline.sh", ec) && fs::exists(folder / "nal-scan", ec))
      inventory.parallelScript = folder / "parallel-pipeline.sh";
    inventory.dualSplitTools = fs::exists(folder / "nal-dual-split", ec) && fs::exists(folder / "nal-interleave", ec);
  }
  return inventory;
}

namespace {

constexpr const char *kNoChunkTools = "nal-scan, nal-dual-split or nal-interleave not found: the film is encoded in "
                                      "one piece";

RoadPlan noRoad(std::string tool, std::string message) {
  return {NoRoad{std::move(tool), std::move(message)}, {}};
}

/// The MVC decoder that streams pictures: edge264-pipe where it is present
/// and can decode the source, else the JM decoder's pipe; why not the fast
/// one goes into `reasons`.
std::string streamDecoder(const ToolInventory &tools, const SourceFacts &source, std::vector<std::string> &reasons) {
  if (!tools.edge264Pipe)
    reasons.push_back(std::string(kFastStreamDecoder) + " not found");
  else if (source.fastDecoderRefusal)
    reasons.push_back(std::string(kFastStreamDecoder) + " cannot decode this source (" + *source.fastDecoderRefusal +
                      ")");
  else
    return kFastStreamDecoder;
  return kJmStreamDecoder;
}

/// The side-by-side road of a streaming decoder with yuv_hstack: through a
/// FIFO, a pipe from a file where there is none, or the JM decoder's
/// segments in parallel where the tools for them are there.
MvcSideBySideRoad streamingSideBySide(const ToolInventory &tools, const SourceFacts &source, const std::string &decoder,
                                      bool spatial, std::vector<std::string> &reasons) {
  MvcSideBySideRoad road{MvcVariant::fifo, decoder, std::nullopt, spatial};
  if (source.fifoRefusal) {
    reasons.push_back("no FIFO (" + *source.fifoRefusal + ")");
    road.variant = MvcVariant::pipeFromFile;
  } else if (decoder == kJmStreamDecoder && tools.parallelScript && source.burnIn) {
    reasons.push_back("subtitles are burned in, which the segment-parallel road cannot (its segments do not "
                      "know their place in the film)");
  } else if (decoder == kJmStreamDecoder && tools.parallelScript) {
    // Segments pay off only for the single-threaded JM decoder.
    road.parallelScript = tools.parallelScript;
    road.variant = tools.dualSplitTools ? MvcVariant::dualSplitParallel : MvcVariant::parallel;
    if (!tools.dualSplitTools)
      reasons.push_back("nal-dual-split or nal-interleave not found");
  } else if (decoder == kJmStreamDecoder) {
    reasons.push_back("parallel-pipeline.sh or nal-scan not found");
  }
  return road;
}

/// The road of an MVC source once the decoder is known: one encode to
/// MV-HEVC when it can, else a side-by-side variant, best first.
RoadPlan planMvc(const ToolInventory &tools, const SourceFacts &source, const OutputPlan &outputs) {
  RoadPlan plan;
  const bool spatial = outputs.spatial.has_value();
  const std::string decoder = streamDecoder(tools, source, plan.reasons);
  const bool streaming = decoder == kFastStreamDecoder || tools.ldecodPipe;
  if (decoder == kJmStreamDecoder && !tools.ldecodPipe)
    plan.reasons.push_back(std::string(kJmStreamDecoder) + " not found");
  if (spatial && streaming && (tools.yuvHstack || !outputs.sideBySide)) {
    if (source.fifoRefusal)
      plan.reasons.push_back("no FIFO (" + *source.fifoRefusal + ")");
    const bool keepSideBySide = outputs.sideBySide.has_value();
    const bool chunked = source.chunksWanted && !keepSideBySide && tools.chunkTools;
    if (source.chunksWanted && keepSideBySide)
      plan.reasons.push_back("the side-by-side file is kept: one decode feeds both encoders, in one piece rather "
                             "than decoding every chunk twice");
    else if (source.chunksWanted && !tools.chunkTools)
      plan.reasons.push_back(kNoChunkTools);
    plan.road = MvcDirectRoad{decoder, !source.fifoRefusal, keepSideBySide, chunked};
    return plan;
  }
  if (!spatial && streaming && tools.yuvHstack && source.chunksWanted) {
    if (tools.chunkTools) {
      plan.road = MvcChunkedSideBySideRoad{decoder};
      return plan;
    }
    plan.reasons.push_back(kNoChunkTools);
  }
  if (!tools.yuvHstack)
    plan.reasons.push_back("yuv_hstack not found");
  if ((!streaming || !tools.yuvHstack) && source.burnIn) {
    // edge264-pipe there but refused: only the JM decoder could stream.
    const std::string missing = streaming ? "yuv_hstack" : tools.edge264Pipe ? kJmStreamDecoder : kFastStreamDecoder;
    return noRoad(missing, fmt::format("{} not found: burning subtitles in needs a streaming decoder ({} or {}) and "
                                       "yuv_hstack; the road without them (pictures decoded to YUV files, stacked "
                                       "by ffmpeg) cannot place them. Build the tools with scripts/build-tools, or "
                                       "convert with --subtitles none",
                                       missing, kFastStreamDecoder, kJmStreamDecoder));
  }
  if (!streaming || !tools.yuvHstack) {
    if (!tools.ldecod)
      return noRoad("ldecod",
                    "ldecod (the JM decoder) not found, nor a streaming decoder with yuv_hstack: a Blu-ray 3D "
                    "source cannot be decoded. Build the tools with scripts/build-tools, or put them into "
                    "the tools folder (share/kestrova/tools)");
    plan.road = MvcSideBySideRoad{MvcVariant::diskBased, "ldecod", std::nullopt, spatial};
    return plan;
  }
  plan.road = streamingSideBySide(tools, source, decoder, spatial, plan.reasons);
  return plan;
}

const char *variantText(MvcVariant variant) {
  switch (variant) {
  case MvcVariant::dualSplitParallel:
    return "variant A, dual-split segment-parallel";
  case MvcVariant::parallel:
    return "variant B, segment-parallel";
  case MvcVariant::fifo:
    return "variant C, FIFO";
  case MvcVariant::pipeFromFile:
    return "variant D, pipe from an interleaved file";
  case MvcVariant::diskBased:
    return "variant E, decoded to YUV files on disk";
  }
  return "";
}

struct RoadText {
  std::string operator()(const NoRoad &road) const { return "none: " + road.message; }
  std::string operator()(const MvcDirectRoad &road) const {
    if (road.chunked)
      return fmt::format("MVC \u2192 MV-HEVC in chunks encoded at once ({} \u2192 MVHEVCConverter per chunk), joined",
                         road.decoder);
    return fmt::format("MVC \u2192 MV-HEVC, decoded once ({} \u2192 MVHEVCConverter{}), interleaved {}", road.decoder,
                       road.keepSideBySide ? " + side-by-side encoder" : "",
                       road.throughFifo ? "through a FIFO" : "into a file first");
  }
  std::string operator()(const MvcSideBySideRoad &road) const {
    return fmt::format("MVC \u2192 side by side, {} ({}){}", variantText(road.variant), road.decoder,
                       road.thenMvhevc ? ", then MVHEVCConverter on the side-by-side file" : "");
  }
  std::string operator()(const MvcChunkedSideBySideRoad &road) const {
    return fmt::format("MVC \u2192 side by side in chunks encoded at once ({} \u2192 yuv_hstack \u2192 ffmpeg per "
                       "chunk), joined by ffmpeg's concat",
                       road.decoder);
  }
  std::string operator()(const FrameAlternateRoad &road) const {
    if (road.chunked)
      return fmt::format("frame alternate \u2192 MV-HEVC in chunks encoded at once (ffmpeg \u2192 MVHEVCConverter "
                         "per chunk, a pair from every two pictures{}), joined",
                         road.rightFirst ? ", right eye first" : "");
    return fmt::format("frame alternate \u2192 side by side{}{}", road.rightFirst ? ", right eye first" : "",
                       road.thenMvhevc ? ", then MVHEVCConverter on the side-by-side file" : "");
  }
  std::string operator()(const PackedRoad &road) const {
    if (road.chunked)
      return "packed eyes \u2192 MV-HEVC in chunks encoded at once (MVHEVCConverter reads each piece as it is "
             "packed), joined";
    return road.toMvhevc ? "packed eyes \u2192 MVHEVCConverter reads the source as it is packed"
                         : "packed eyes \u2192 full side by side";
  }
};

} // namespace

RoadPlan planRoad(const ToolInventory &tools, const SourceFacts &source, const OutputPlan &outputs) {
  const bool spatial = outputs.spatial.has_value();
  // Every Vision Pro road ends in the converter: without it, nothing starts.
  if (spatial && !tools.mvhevcConverter)
    return noRoad("MVHEVCConverter",
                  "MVHEVCConverter not found: it writes the MV-HEVC file for Apple Vision Pro and is built with "
                  "Kestrova into the tools folder (share/kestrova/tools); build the project again, or choose the "
                  "side-by-side target");
  using Kind = Stereo3DMode::Kind;
  switch (source.layout.kind()) {
  case Kind::frameAlternate: {
    const bool keepSideBySide = outputs.sideBySide.has_value();
    RoadPlan plan{
        FrameAlternateRoad{source.layout.rightFirst(), spatial, spatial && source.chunksWanted && !keepSideBySide}, {}};
    if (spatial && source.chunksWanted && keepSideBySide)
      plan.reasons.push_back("the side-by-side file is kept: it is encoded in one piece and converted from, not "
                             "in chunks");
    return plan;
  }
  case Kind::sideBySide:
  case Kind::topAndBottom:
    return {PackedRoad{spatial, spatial && source.chunksWanted}, {}};
  case Kind::mvcSingleTrack:
  case Kind::mvcSeparateTracks:
  case Kind::none:
    break;
  }
  return planMvc(tools, source, outputs);
}

std::optional<std::string> chunkingRefusal(const RoadPlan &plan, const ChunkingOptions &options) {
  const auto *packed = std::get_if<PackedRoad>(&plan.road);
  const auto *alternate = std::get_if<FrameAlternateRoad>(&plan.road);
  const auto *direct = std::get_if<MvcDirectRoad>(&plan.road);
  if ((packed && packed->chunked) || (alternate && alternate->chunked) || (direct && direct->chunked) ||
      std::holds_alternative<MvcChunkedSideBySideRoad>(plan.road))
    return std::nullopt;
  // These films are cut into chunks only on their way to Vision Pro alone.
  if ((packed || alternate) && (options.cutOnly || !options.hosts.empty()))
    return fmt::format("{0} needs a film going to Vision Pro alone, which this {1} source does not ({2}): convert "
                       "it without {0}",
                       options.cutOnly ? "--cut-only" : "--hosts",
                       packed ? "side-by-side or top-and-bottom" : "frame-alternate", describe(plan));
  if (options.cutOnly)
    return "--cut-only needs a Blu-ray 3D film going to Vision Pro alone or to side by side alone, and the chunk "
           "tools, not this one (" +
           describe(plan) + ")";
  return std::nullopt;
}

std::string describe(const RoadPlan &plan) {
  std::string text = "Road: " + std::visit(RoadText{}, plan.road);
  if (!plan.reasons.empty()) {
    text += " \u2014 ";
    for (std::size_t i = 0; i < plan.reasons.size(); ++i)
      text += (i ? "; " : "") + plan.reasons[i];
  }
  return text;
}

} // namespace kestrova::pipeline
