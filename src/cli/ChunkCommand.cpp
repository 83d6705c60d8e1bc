#include "cli/ChunkCommand.h"

#include "core/Errors.h"
#include "pipeline/ChunkJob.h"
#include "pipeline/ChunkManifest.h"
#include "pipeline/StreamDecoderChoice.h"
#include "tools/ToolLocator.h"

#include <charconv>
#include <cstdio>
#include <string>

namespace kestrova::cli {
namespace fs = std::filesystem;

namespace {

std::string located(const tools::ToolLocator &locator, std::string_view name) {
  auto path = locator.findTool(name);
  if (!path)
    throw ConversionError::toolNotFound(std::string(name) + " not found");
  return *path;
}

} // namespace

int runChunkCommand(const CommandLine &line) {
  std::int64_t pairs = 0;
  const bool words = line.inputs.size() == 4 || line.inputs.size() == 5;
  const auto *last = words ? &line.inputs[3] : nullptr;
  // Only an MVC film's views are cut for other machines.
  auto settings = words ? pipeline::ChunkPictureSettings::parse(line.inputs[2]) : std::nullopt;
  if (settings && settings->input != pipeline::ChunkInput::mvcViews)
    settings.reset();
  const auto burnIn = line.inputs.size() == 5 ? pipeline::ChunkBurnIn::parse(line.inputs[4]) : std::nullopt;
  if (!settings || !last || std::from_chars(last->data(), last->data() + last->size(), pairs).ec != std::errc() ||
      pairs <= 0 || (line.inputs.size() == 5 && !burnIn)) {
    std::fprintf(stderr, "kestrova: --encode-chunk takes BASE MVC OUTPUT SETTINGS PAIRS [SUBTITLES]\n");
    return 2;
  }
  try {
    const tools::ToolLocator locator(tools::BundlePaths::forRunningExecutable());
    pipeline::ChunkJobRequest request;
    request.basePiece = fs::absolute(*line.encodeChunk);
    request.mvcPiece = fs::absolute(line.inputs[0]);
    request.output = fs::absolute(line.inputs[1]);
    request.folder = request.output.string() + ".job";
    request.pairs = pairs;
    request.picture = *settings;
    // The converter runs in the job's folder: the subtitle files are named from here.
    if (burnIn) {
      request.burnIn = *burnIn;
      request.burnIn->subtitles.track = fs::absolute(burnIn->subtitles.track);
      if (!burnIn->subtitles.offsets.empty())
        request.burnIn->subtitles.offsets = fs::absolute(burnIn->subtitles.offsets);
    }
    auto decoder = locator.findTool(pipeline::kFastStreamDecoder);
    pipeline::ChunkJobTools tools;
    tools.interleaver = located(locator, "nal-interleave");
    tools.decoder = decoder ? *decoder : located(locator, pipeline::kJmStreamDecoder);
    if (settings->output == pipeline::ChunkOutput::mvhevc) {
      tools.converter = located(locator, "MVHEVCConverter");
    } else {
      tools.stacker = located(locator, "yuv_hstack");
      tools.ffmpeg = located(locator, "ffmpeg");
      tools.ffprobe = located(locator, "ffprobe");
    }
    pipeline::runChunkJob(request, tools,
                          [pairs](std::int64_t done) {
                            std::printf("Frame %lld/%lld\n", static_cast<long long>(done),
                                        static_cast<long long>(pairs));
                            std::fflush(stdout);
                          },
                          {});
    const auto onDisk = pipeline::inspectChunk(request.output);
    if (!onDisk || onDisk->frames != pairs) {
      std::fprintf(stderr, "kestrova: chunk %s holds %lld of its %lld pictures\n", request.output.c_str(),
                   static_cast<long long>(onDisk ? onDisk->frames : 0), static_cast<long long>(pairs));
      return 1;
    }
    return 0;
  } catch (const std::exception &error) {
    std::fprintf(stderr, "kestrova: %s\n", error.what());
    return 1;
  }
}

} // namespace kestrova::cli
