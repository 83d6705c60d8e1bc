#include "pipeline/ViewCutter.h"

#include "core/Errors.h"
#include "pipeline/ChunkSbs.h"
#include "pipeline/RequiredTool.h"
#include "pipeline/ToolBlame.h"
#include "tools/Process.h"

#include <sstream>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

/// The film's IDR access units and its access unit count, as nal-scan finds them in the base view.
FilmCuts scanViews(const PipelineEngine &engine, const fs::path &baseView) {
  tools::ProcessLaunch launch;
  launch.executable = requireTool(engine, "nal-scan");
  launch.arguments = {baseView.string()};
  const auto collected = tools::runAndCollect(launch);
  FilmCuts scan;
  std::istringstream lines(collected.standardOutput);
  std::string word;
  std::int64_t value = 0, offset = 0;
  while (lines >> word) {
    if (word == "split" && lines >> value >> offset)
      scan.starts.push_back(value);
    else if (word == "units" && lines >> value)
      scan.pictures = value;
  }
  if (!collected.status.success() || scan.pictures == 0)
    throw ConversionError::decodingFailed("nal-scan could not find the access units of the base view: " +
                                          reasonLine(collected.standardError));
  if (scan.starts.size() <= 1)
    engine.log("\u26a0\ufe0f The base view has no IDR picture after its first (its GOPs start with other key "
               "frames): a piece from anywhere else would not decode on its own, so it is encoded as one chunk");
  return scan;
}

void splitViews(const PipelineEngine &engine, const ViewFiles &views, const std::vector<ChunkSpan> &chunks,
                const fs::path &folder) {
  // nal-dual-split names the pieces as chunkPieces does.
  std::string cuts;
  for (const auto &chunk : chunks)
    cuts += (cuts.empty() ? "" : ",") + std::to_string(chunk.firstFrame);
  tools::ProcessLaunch launch;
  launch.executable = requireTool(engine, "nal-dual-split");
  launch.arguments = {"--at", cuts, views.base.string(), views.mvc.string(), (folder / "piece").string()};
  const auto collected = tools::runAndCollect(launch);
  if (!collected.status.success())
    throw ConversionError::decodingFailed("the views could not be cut into chunks: " +
                                          reasonLine(collected.standardError));
}

} // namespace

ChunkCutter viewCutter(const PipelineEngine &engine, const std::string &decoder, const ViewFiles &views,
                       ChunkOutput output) {
  ChunkCutter cutter;
  cutter.scan = [&engine, base = views.base] { return scanViews(engine, base); };
  cutter.cut = [&engine, views](const std::vector<ChunkSpan> &chunks, const fs::path &folder) {
    splitViews(engine, views, chunks, folder);
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
