#include "cli/ChunkCommand.h"

#include "core/Errors.h"
#include "pipeline/ChunkJob.h"
#include "pipeline/ChunkManifest.h"
#include "pipeline/StreamDecoderChoice.h"
#include "tools/ToolLocator.h"

#include <charconv>
#include <cstdio>
#include <optional>
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

/// The tools the job runs: for an MVC film's two pieces the interleaver and
/// a decoder; ffmpeg decodes a frame-alternate piece and encodes a
/// side-by-side chunk.
pipeline::ChunkJobTools jobTools(const tools::ToolLocator &locator, const pipeline::ChunkPictureSettings &settings) {
  pipeline::ChunkJobTools tools;
  if (settings.input == pipeline::ChunkInput::mvcViews) {
    auto decoder = locator.findTool(pipeline::kFastStreamDecoder);
    tools.interleaver = located(locator, "nal-interleave");
    tools.decoder = decoder ? *decoder : located(locator, pipeline::kJmStreamDecoder);
  }
  if (settings.output == pipeline::ChunkOutput::mvhevc) {
    tools.converter = located(locator, "MVHEVCConverter");
  } else {
    tools.stacker = located(locator, "yuv_hstack");
    tools.ffprobe = located(locator, "ffprobe");
  }
  if (settings.output != pipeline::ChunkOutput::mvhevc || settings.input == pipeline::ChunkInput::frameAlternate)
    tools.ffmpeg = located(locator, "ffmpeg");
  return tools;
}

/// The settings line when the words fit it: an MVC film's chunk has its two
/// view pieces, any other film's its one piece and "-", and goes to Vision Pro.
std::optional<pipeline::ChunkPictureSettings> chunkSettings(const CommandLine &line) {
  if (line.inputs.size() != 4 && line.inputs.size() != 5)
    return std::nullopt;
  auto settings = pipeline::ChunkPictureSettings::parse(line.inputs[2]);
  if (!settings)
    return std::nullopt;
  const bool views = settings->input == pipeline::ChunkInput::mvcViews, onePiece = line.inputs[0] == "-";
  if (views == onePiece || (!views && settings->output != pipeline::ChunkOutput::mvhevc))
    return std::nullopt;
  return settings;
}

} // namespace

int runChunkCommand(const CommandLine &line) {
  std::int64_t pairs = 0;
  const auto settings = chunkSettings(line);
  const auto *last = settings ? &line.inputs[3] : nullptr;
  const auto burnIn = line.inputs.size() == 5 ? pipeline::ChunkBurnIn::parse(line.inputs[4]) : std::nullopt;
  if (!settings || !last || std::from_chars(last->data(), last->data() + last->size(), pairs).ec != std::errc() ||
      pairs <= 0 || (line.inputs.size() == 5 && !burnIn)) {
    std::fprintf(stderr, "kestrova: --encode-chunk takes PIECE MVC|- OUTPUT SETTINGS PAIRS [SUBTITLES]\n");
    return 2;
  }
  // Whether the job decodes an MVC film's views with the JM decoder, edge264 not being here.
  bool jmDecoder = false;
  try {
    const tools::ToolLocator locator(tools::BundlePaths::forRunningExecutable());
    pipeline::ChunkJobRequest request;
    request.basePiece = fs::absolute(*line.encodeChunk);
    if (settings->input == pipeline::ChunkInput::mvcViews)
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
    const pipeline::ChunkJobTools tools = jobTools(locator, *settings);
    jmDecoder = !tools.decoder.empty() && fs::path(tools.decoder).filename() == pipeline::kJmStreamDecoder;
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
  } catch (const ConversionError &error) {
    // The machine that cut the film had edge264 and may have cut it where only edge264 can start.
    const bool withoutFastDecoder = jmDecoder && error.kind() == ConversionError::Kind::decodingFailed;
    std::fprintf(stderr, "kestrova: %s%s\n", error.what(),
                 withoutFastDecoder ? " (this machine's Kestrova has no edge264-pipe: a chunk cut at an open GOP's I "
                                      "picture may need it, and another machine can encode it)"
                                    : "");
    return 1;
  } catch (const std::exception &error) {
    std::fprintf(stderr, "kestrova: %s\n", error.what());
    return 1;
  }
}

} // namespace kestrova::cli
