#include "pipeline/ViewCutter.h"

#include "core/Errors.h"
#include "pipeline/ChunkSbs.h"
#include "pipeline/RequiredTool.h"
#include "pipeline/StreamDecoderChoice.h"
#include "pipeline/ToolBlame.h"
#include "tools/Process.h"

#include <algorithm>
#include <fmt/format.h>
#include <memory>
#include <sstream>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

/// Where the film can be cut, as nal-scan finds it in the base view: where
/// each picture is shown and where `decoder` can start decoding (IDR
/// pictures, and an open GOP's I pictures), or, when it cannot read the
/// pictures' order, its IDR access units.
FilmCuts scanViews(const PipelineEngine &engine, const fs::path &baseView, const std::string &decoder) {
  tools::ProcessLaunch launch;
  launch.executable = requireTool(engine, "nal-scan");
  launch.arguments = {baseView.string()};
  const auto collected = tools::runAndCollect(launch);
  FilmCuts scan;
  std::vector<std::optional<std::int64_t>> shown;
  std::vector<bool> key, onlyFast;
  std::istringstream lines(collected.standardOutput);
  std::string word;
  std::int64_t value = 0, offset = 0, order = 0;
  int startsHere = 0;
  while (lines >> word) {
    if (word == "split" && lines >> value >> offset)
      scan.starts.push_back(value);
    else if (word == "units" && lines >> value)
      scan.pictures = value;
    else if (word == "picture" && lines >> value >> order >> startsHere && value == std::ssize(shown)) {
      // 2: only after leaving out referred-to leading pictures, which the JM decoder does not get past.
      shown.emplace_back(order);
      key.push_back(startsHere == 1 || (startsHere == 2 && decoder == kFastStreamDecoder));
      onlyFast.push_back(startsHere == 2);
    }
  }
  if (!collected.status.success() || scan.pictures == 0)
    throw ConversionError::decodingFailed("nal-scan could not find the access units of the base view: " +
                                          reasonLine(collected.standardError));
  // A stream that opens with leading pictures (cut out of a longer one) keeps
  // its IDR cuts: every decoder gives those pictures, as the one-piece road does.
  if (std::ssize(shown) == scan.pictures)
    if (FilmCuts cuts = keyFrameCuts(shown, key); cuts.keys.front().leading == 0) {
      // The film's own start is decoded as the whole film is.
      for (const auto &cut : cuts.keys)
        if (cut.start > 0 && onlyFast[static_cast<std::size_t>(cut.packet)])
          cuts.fastDecoderStarts.push_back(cut.start);
      scan = std::move(cuts);
    }
  // Open GOPs whose I pictures the JM decoder cannot start at.
  const bool onlyForEdge264 =
      decoder != kFastStreamDecoder && std::find(onlyFast.begin(), onlyFast.end(), true) != onlyFast.end();
  if (scan.starts.size() <= 1 && onlyForEdge264)
    engine.log("\u26a0\ufe0f The film's open GOPs begin with leading pictures that other pictures refer to: only "
               "edge264 decodes a piece without them, and this film goes to the JM decoder, so it is encoded as one "
               "chunk");
  else if (scan.starts.size() <= 1)
    engine.log("\u26a0\ufe0f The base view has no picture after its first where decoding can start on its own (an "
               "IDR picture, or an I picture with a recovery point): it is encoded as one chunk");
  return scan;
}

void splitViews(const PipelineEngine &engine, const ViewFiles &views, const FilmCuts &cuts,
                const std::vector<ChunkSpan> &chunks, const fs::path &folder) {
  // nal-dual-split names the pieces as chunkPieces does. A chunk starts at
  // an access unit, after which an open GOP's leading pictures go with the
  // chunk before.
  std::string at;
  for (const auto &chunk : chunks) {
    const auto key = std::find_if(cuts.keys.begin(), cuts.keys.end(),
                                  [&chunk](const KeyFrameCut &cut) { return cut.start == chunk.firstFrame; });
    const std::string unit =
        key == cuts.keys.end() ? std::to_string(chunk.firstFrame) : fmt::format("{}+{}", key->packet, key->leading);
    at += (at.empty() ? "" : ",") + unit;
  }
  tools::ProcessLaunch launch;
  launch.executable = requireTool(engine, "nal-dual-split");
  launch.arguments = {"--at", at, views.base.string(), views.mvc.string(), (folder / "piece").string()};
  const auto collected = tools::runAndCollect(launch);
  if (!collected.status.success())
    throw ConversionError::decodingFailed("the views could not be cut into chunks: " +
                                          reasonLine(collected.standardError));
}

} // namespace

ChunkCutter viewCutter(const PipelineEngine &engine, const std::string &decoder, const ViewFiles &views,
                       ChunkOutput output) {
  ChunkCutter cutter;
  // The scan's cuts, for the cut that follows it.
  auto found = std::make_shared<FilmCuts>();
  cutter.scan = [&engine, base = views.base, decoder, found] { return *found = scanViews(engine, base, decoder); };
  cutter.cut = [&engine, views, found](const std::vector<ChunkSpan> &chunks, const fs::path &folder) {
    splitViews(engine, views, *found, chunks, folder);
  };
  std::error_code sizeError;
  cutter.bytes = fs::file_size(views.base, sizeError) + fs::file_size(views.mvc, sizeError);
  if (sizeError)
    cutter.bytes = 0;
  cutter.tools.interleaver = requireTool(engine, "nal-interleave");
  cutter.tools.decoder = requireTool(engine, decoder);
  if (isSideBySideChunk(output)) {
    cutter.tools.stacker = requireTool(engine, "yuv_hstack");
    cutter.tools.ffmpeg = requireFfmpeg(engine);
    cutter.tools.ffprobe = requireTool(engine, "ffprobe");
    cutter.jobText = decoder + " \u2192 yuv_hstack \u2192 ffmpeg";
  } else {
    cutter.tools.converter = requireTool(engine, "MVHEVCConverter");
    cutter.jobText = decoder + " \u2192 MVHEVCConverter --chunk";
  }
  return cutter;
}

} // namespace kestrova::pipeline
