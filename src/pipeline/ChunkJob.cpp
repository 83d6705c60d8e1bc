#include "pipeline/ChunkJob.h"

#include "core/Errors.h"
#include "pipeline/ChunkManifest.h"
#include "pipeline/ChunkSbs.h"
#include "pipeline/HelperOutputParsers.h"
#include "pipeline/SubtitleBurnIn.h"
#include "tools/ProcessPipeline.h"

#include <algorithm>
#include <fmt/format.h>
#include <regex>
#include <sstream>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

/// The pictures encoded so far from a converter line "Frame DONE/TOTAL (P%)".
std::optional<std::int64_t> framesDone(std::string_view line) {
  if (!line.starts_with("Frame "))
    return std::nullopt;
  std::int64_t done = 0;
  std::istringstream in(std::string(line.substr(6)));
  if (!(in >> done))
    return std::nullopt;
  return done;
}

std::string lastLines(const std::vector<std::string> &lines, std::size_t count) {
  std::string text;
  for (std::size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i)
    text += (text.empty() ? "" : "; ") + lines[i];
  return text;
}

constexpr std::pair<ChunkOutput, const char *> kOutputWords[] = {{ChunkOutput::mvhevc, "mv-hevc"},
                                                                 {ChunkOutput::sideBySideHevc, "sbs-hevc"},
                                                                 {ChunkOutput::sideBySideH264, "sbs-h264"}};
// The packed layouts by MVHEVCConverter's --layout words.
constexpr std::pair<ChunkInput, const char *> kInputWords[] = {
    {ChunkInput::mvcViews, "mvc"},     {ChunkInput::fullSbs, "full-sbs"},
    {ChunkInput::halfSbs, "half-sbs"}, {ChunkInput::fullTab, "full-tab"},
    {ChunkInput::halfTab, "half-tab"}, {ChunkInput::frameAlternate, "frame-alternate"}};

template <typename Kind, std::size_t N> const char *wordOf(const std::pair<Kind, const char *> (&words)[N], Kind kind) {
  for (const auto &[known, text] : words)
    if (known == kind)
      return text;
  return "";
}

template <typename Kind, std::size_t N>
std::optional<Kind> kindOf(const std::pair<Kind, const char *> (&words)[N], std::string_view word) {
  for (const auto &[known, text] : words)
    if (word == text)
      return known;
  return std::nullopt;
}

} // namespace

const char *chunkExtension(ChunkOutput output) {
  return output == ChunkOutput::mvhevc ? ".hevc" : ".mp4";
}

std::pair<fs::path, fs::path> chunkPieces(const fs::path &folder, int index, ChunkInput input) {
  const fs::path stem = folder / fmt::format("piece_{:03}", index);
  if (input != ChunkInput::mvcViews)
    return {fs::path(stem).concat(".mkv"), {}};
  return {fs::path(stem).concat(".264"), fs::path(stem).concat(".mvc")};
}

std::string ChunkPictureSettings::canonical() const {
  return fmt::format(
      "output={} quality={} cap={} view={}x{} rate={}/{} eyes={}{}{}", wordOf(kOutputWords, output), quality,
      capMbps ? *capMbps : 0, width, height, frameRateNum, frameRateDen, rightFirst ? "right-first" : "left-first",
      input == ChunkInput::mvcViews ? "" : " input=", input == ChunkInput::mvcViews ? "" : wordOf(kInputWords, input));
}

std::optional<ChunkPictureSettings> ChunkPictureSettings::parse(const std::string &line) {
  ChunkPictureSettings settings;
  char output[16] = {}, quality[32] = {}, eyes[16] = {}, input[24] = {};
  int cap = 0;
  long long width = 0, height = 0, num = 0, den = 0;
  const int fields =
      std::sscanf(line.c_str(), "output=%15s quality=%31s cap=%d view=%lldx%lld rate=%lld/%lld eyes=%15s input=%23s",
                  output, quality, &cap, &width, &height, &num, &den, eyes, input);
  const auto known = kindOf(kOutputWords, output);
  const auto from = fields == 9 ? kindOf(kInputWords, input) : ChunkInput::mvcViews;
  if (fields < 8 || !known || !from)
    return std::nullopt;
  settings.output = *known;
  settings.input = *from;
  settings.quality = quality;
  if (cap > 0)
    settings.capMbps = cap;
  settings.width = width;
  settings.height = height;
  settings.frameRateNum = num;
  settings.frameRateDen = den;
  settings.rightFirst = std::string_view(eyes) == "right-first";
  if (settings.canonical() != line)
    return std::nullopt;
  return settings;
}

std::string ChunkBurnIn::canonical() const {
  return fmt::format("first={} depth={} plane={} track={} offsets={}", firstFrame, subtitles.fixedDepth,
                     subtitles.plane ? std::to_string(*subtitles.plane) : "none", subtitles.track.string(),
                     subtitles.offsets.empty() ? "none" : subtitles.offsets.string());
}

std::optional<ChunkBurnIn> ChunkBurnIn::parse(const std::string &word) {
  // The file names last, whole: a work folder under "Kestrova Output" has a blank.
  static const std::regex layout(R"(first=(\d+) depth=(-?\d+) plane=(\d+|none) track=(.+) offsets=(.+))");
  std::smatch field;
  if (!std::regex_match(word, field, layout))
    return std::nullopt;
  ChunkBurnIn burnIn;
  try {
    burnIn.firstFrame = std::stoll(field[1]);
    burnIn.subtitles.fixedDepth = std::stoi(field[2]);
    if (field[3] != "none")
      burnIn.subtitles.plane = std::stoi(field[3]);
  } catch (const std::exception &) {
    return std::nullopt;
  }
  burnIn.subtitles.track = field[4].str();
  if (field[5] != "none")
    burnIn.subtitles.offsets = field[5].str();
  if (burnIn.canonical() != word)
    return std::nullopt;
  return burnIn;
}

std::string burnInIdentity(const std::optional<SubtitleBurnIn> &burnIn) {
  if (!burnIn)
    return {};
  return fmt::format("bytes={:016x},{:016x} plane={} depth={}", contentHash(burnIn->track),
                     burnIn->offsets.empty() ? 0 : contentHash(burnIn->offsets),
                     burnIn->plane ? std::to_string(*burnIn->plane) : "none", burnIn->fixedDepth);
}

std::vector<std::string> chunkConverterArguments(const ChunkJobRequest &request) {
  const ChunkPictureSettings &picture = request.picture;
  const bool packed = picture.input != ChunkInput::mvcViews && picture.input != ChunkInput::frameAlternate;
  std::vector<std::string> arguments{packed ? request.basePiece.string() : "-", request.output.string(),
                                     picture.quality};
  if (picture.capMbps)
    arguments.push_back(std::to_string(*picture.capMbps));
  if (packed) {
    // The converter cuts the eyes out of the piece's pictures itself; a piece cut in an open GOP
    // goes on past its chunk.
    arguments.insert(arguments.end(),
                     {"--chunk", "--layout", wordOf(kInputWords, picture.input), "--eye-order",
                      picture.rightFirst ? "right-first" : "left-first", "--frames", std::to_string(request.pairs)});
  } else {
    arguments.insert(arguments.end(),
                     {"--chunk", "--view-size", fmt::format("{}x{}", picture.width, picture.height), "--frame-rate",
                      fmt::format("{}/{}", picture.frameRateNum, picture.frameRateDen), "--eye-order",
                      picture.rightFirst ? "right-first" : "left-first", "--pairs", std::to_string(request.pairs)});
    // An MVC piece cut before an open GOP goes on with that GOP's I picture.
    if (picture.input == ChunkInput::mvcViews)
      arguments.insert(arguments.end(), {"--frames", std::to_string(request.pairs)});
  }
  if (request.burnIn) {
    const auto subtitles = burnInArguments(request.burnIn->subtitles, request.burnIn->firstFrame);
    arguments.insert(arguments.end(), subtitles.begin(), subtitles.end());
  }
  if (request.encoderThreads > 0)
    arguments.insert(arguments.end(), {"--threads", std::to_string(request.encoderThreads)});
  return arguments;
}

namespace {

/// Runs `stages` (each reading the one before it) until they end; the chunk's
/// words for a stage that failed, naming it with its last words.
void runStages(const ChunkJobRequest &request, std::vector<tools::PipelineStage> stages, std::stop_token stop) {
  tools::ProcessPipeline pipeline;
  for (auto &stage : stages)
    pipeline.add(std::move(stage));
  const tools::PipelineOutcome outcome = pipeline.run(stop);
  if (outcome.cancelled || stop.stop_requested())
    throw ConversionError::cancelled();
  const tools::StageOutcome *failed = outcome.blamed();
  if (!failed)
    return;
  const std::string what = fmt::format("chunk {} could not be encoded: {} exited with status {}{}{}",
                                       request.output.filename().string(), failed->name, failed->shellStatus(),
                                       failed->lastLines.empty() ? "" : ": ", lastLines(failed->lastLines, 3));
  if (failed->name == "decoder")
    throw ConversionError::decodingFailed(what);
  throw ConversionError::encodingFailed(what);
}

/// The chunk's decoder, its pairs on standard output; `onLine` reads its standard error.
tools::PipelineStage decoderStage(const ChunkJobRequest &request, const ChunkJobTools &tools, const fs::path &stream,
                                  tools::LineHandler onLine) {
  return {"decoder",
          {tools.decoder,
           {"-p", "InputFile=" + stream.string(), "-p", "OutputFile=output.yuv", "-p", "DecodeAllLayers=1"},
           request.folder},
          {},
          {},
          std::move(onLine)};
}

/// ffmpeg decoding a piece of alternate pictures, `pairs` pairs of them (a
/// last picture without its other eye, or a piece going on past its chunk,
/// left out), to standard output, one picture for each decoded.
tools::PipelineStage alternateDecoderStage(const ChunkJobRequest &request, const ChunkJobTools &tools) {
  return {
      "decoder",
      {tools.ffmpeg,
       {"-nostdin", "-v", "error", "-i", request.basePiece.string(), "-map", "0:v:0", "-frames:v",
        std::to_string(2 * request.pairs), "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"},
       request.folder},
      {},
      {},
      {}};
}

/// The decoder's pairs stacked side by side and encoded into the segment;
/// its record is written once ffmpeg has finished it.
void encodeSegment(const ChunkJobRequest &request, const ChunkJobTools &tools, const fs::path &stream,
                   const std::function<void(std::int64_t)> &onFrames, std::stop_token stop) {
  std::error_code ignored;
  fs::remove(fs::path(request.output).concat(".frames"), ignored);
  SideBySideEncode encode =
      segmentEncode(request.picture, request.pairs, request.output, tools, EncoderTable::probe(tools.ffmpeg));
  if (request.burnIn) {
    const auto subtitles = stackerBurnInArguments(request.burnIn->subtitles, request.picture.frameRateNum,
                                                  request.picture.frameRateDen, request.burnIn->firstFrame);
    encode.stacker.arguments.insert(encode.stacker.arguments.end(), subtitles.begin(), subtitles.end());
  }
  encode.stacker.workingDirectory = request.folder;
  encode.encoder.workingDirectory = request.folder;
  std::vector<tools::PipelineStage> stages;
  stages.push_back(decoderStage(request, tools, stream, [&onFrames](std::string_view line) {
    if (auto done = decodedFramePairs(line); done && onFrames)
      onFrames(*done);
  }));
  stages.push_back({"yuv_hstack", std::move(encode.stacker), 0, {}, {}});
  stages.push_back({"ffmpeg", std::move(encode.encoder), 1, {}, {}});
  runStages(request, std::move(stages), stop);
  writeSegmentRecord(tools.ffprobe, request.output);
}

} // namespace

void runChunkJob(const ChunkJobRequest &request, const ChunkJobTools &tools,
                 const std::function<void(std::int64_t)> &onFrames, std::stop_token stop) {
  fs::create_directories(request.folder);
  // The job's folder goes in any case; the chunk and its record unless the job finished them.
  struct Cleanup {
    const ChunkJobRequest &request;
    bool finished = false;
    ~Cleanup() {
      std::error_code ignored;
      fs::remove_all(request.folder, ignored);
      if (!finished) {
        fs::remove(request.output, ignored);
        fs::remove(fs::path(request.output).concat(".frames"), ignored);
      }
    }
  } cleanup{request};
  tools::PipelineStage converter{"MVHEVCConverter",
                                 {tools.converter, chunkConverterArguments(request), request.folder},
                                 0,
                                 [&onFrames](std::string_view line) {
                                   if (auto done = framesDone(line); done && onFrames)
                                     onFrames(*done);
                                 },
                                 {}};
  std::vector<tools::PipelineStage> stages;
  if (request.picture.input == ChunkInput::frameAlternate) {
    stages.push_back(alternateDecoderStage(request, tools));
  } else if (request.picture.input == ChunkInput::mvcViews) {
    const fs::path stream = request.folder / "chunk.264";
    tools::PipelineStage interleave{
        "nal-interleave",
        {tools.interleaver, {request.basePiece.string(), request.mvcPiece.string(), stream.string()}, request.folder},
        {},
        {},
        {}};
    std::vector<tools::PipelineStage> first;
    first.push_back(std::move(interleave));
    runStages(request, std::move(first), stop);
    if (isSideBySideChunk(request.picture.output)) {
      encodeSegment(request, tools, stream, onFrames, stop);
      cleanup.finished = true;
      return;
    }
    stages.push_back(decoderStage(request, tools, stream, {}));
  }
  // The pairs of the stage before it; a packed piece it reads itself.
  if (stages.empty())
    converter.input.reset();
  stages.push_back(std::move(converter));
  runStages(request, std::move(stages), stop);
  cleanup.finished = true;
}

} // namespace kestrova::pipeline
