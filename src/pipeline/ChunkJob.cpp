#include "pipeline/ChunkJob.h"

#include "core/Errors.h"
#include "pipeline/ShellQuote.h"
#include "tools/Process.h"

#include <csignal>
#include <fmt/format.h>
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

std::string chunkJobScript(const ChunkJobRequest &request, const ChunkJobTools &tools) {
  std::string script = "cd " + shellQuote(request.folder.string()) + " || exit 1\n";
  script += quotedWords({tools.interleaver, request.basePiece.string(), request.mvcPiece.string(), "chunk.264"}) +
            " 2>interleave.log || { tail -n 3 interleave.log >&2; echo 'chunk-job: failed interleave' >&2; exit 1; }\n";
  script += quotedWords({tools.decoder, "-p", "InputFile=chunk.264", "-p", "OutputFile=output.yuv", "-p",
                         "DecodeAllLayers=1"}) +
            " 2>decoder.log | " + shellQuote(tools.converter) + " " + quotedWords(chunkConverterArguments(request)) +
            "\n";
  script += "s=(\"${PIPESTATUS[@]}\")\nrm -f chunk.264\n";
  script += "[ \"${s[0]}\" = 0 ] || { tail -n 3 decoder.log >&2; echo \"chunk-job: failed decoder ${s[0]}\" >&2; }\n";
  script += "[ \"${s[1]}\" = 0 ] || echo \"chunk-job: failed converter ${s[1]}\" >&2\n";
  script += "[ \"${s[*]}\" = '0 0' ]";
  return script;
}

} // namespace

std::string ChunkPictureSettings::canonical() const {
  return fmt::format("quality={} cap={} view={}x{} rate={}/{} eyes={}", quality, capMbps ? *capMbps : 0, width, height,
                     frameRateNum, frameRateDen, rightFirst ? "right-first" : "left-first");
}

std::optional<ChunkPictureSettings> ChunkPictureSettings::parse(const std::string &line) {
  ChunkPictureSettings settings;
  char quality[32] = {}, eyes[16] = {};
  int cap = 0;
  long long width = 0, height = 0, num = 0, den = 0;
  if (std::sscanf(line.c_str(), "quality=%31s cap=%d view=%lldx%lld rate=%lld/%lld eyes=%15s", quality, &cap, &width,
                  &height, &num, &den, eyes) != 7)
    return std::nullopt;
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

std::vector<std::string> chunkConverterArguments(const ChunkJobRequest &request) {
  const ChunkPictureSettings &picture = request.picture;
  std::vector<std::string> arguments{"-", request.output.string(), picture.quality};
  if (picture.capMbps)
    arguments.push_back(std::to_string(*picture.capMbps));
  arguments.insert(arguments.end(),
                   {"--chunk", "--view-size", fmt::format("{}x{}", picture.width, picture.height), "--frame-rate",
                    fmt::format("{}/{}", picture.frameRateNum, picture.frameRateDen), "--eye-order",
                    picture.rightFirst ? "right-first" : "left-first", "--pairs", std::to_string(request.pairs)});
  return arguments;
}

void runChunkJob(const ChunkJobRequest &request, const ChunkJobTools &tools,
                 const std::function<void(std::int64_t)> &onFrames, std::stop_token stop) {
  fs::create_directories(request.folder);
  tools::ProcessLaunch launch;
  launch.executable = tools.bash;
  launch.arguments = {"-c", chunkJobScript(request, tools)};
  launch.workingDirectory = request.folder;
  auto process = tools::Process::create(std::move(launch));
  std::stop_callback onStop(stop, [&process] {
    process->terminate();
    process->signalGroup(SIGTERM);
  });
  std::vector<std::string> errors;
  const auto status = tools::runAndStreamLines(
      *process,
      [&onFrames](std::string_view line) {
        if (auto done = framesDone(line); done && onFrames)
          onFrames(*done);
      },
      [&errors](std::string_view line) { errors.emplace_back(line); });
  std::error_code ignored;
  fs::remove_all(request.folder, ignored);
  if (stop.stop_requested())
    throw ConversionError::cancelled();
  if (status.success())
    return;
  const std::string what =
      fmt::format("chunk {} could not be encoded: {}", request.output.filename().string(), lastLines(errors, 4));
  for (const auto &line : errors)
    if (line.starts_with("chunk-job: failed decoder"))
      throw ConversionError::decodingFailed(what);
  throw ConversionError::encodingFailed(what);
}

} // namespace kestrova::pipeline
