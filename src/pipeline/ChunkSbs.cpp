#include "pipeline/ChunkSbs.h"

#include "core/EnumText.h"
#include "core/Errors.h"
#include "demux/Demux.h"
#include "pipeline/EncoderParameters.h"
#include "pipeline/PipelineRun.h"
#include "pipeline/RequiredTool.h"
#include "pipeline/StreamDecodeRequest.h"
#include "pipeline/ToolBlame.h"
#include "tools/Process.h"
#include "tools/QuotedWord.h"

#include <fmt/format.h>
#include <sstream>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

QualityPreset presetOf(const ChunkPictureSettings &picture) {
  for (QualityPreset preset : allCases<QualityPreset>())
    if (caseName(preset) == picture.quality)
      return preset;
  throw ConversionError::encodingFailed("unknown side-by-side quality \"" + picture.quality + "\"");
}

/// A name with the extension that makes videoArguments choose the chunk's codec alone.
const fs::path kCodecNeutral = "segment.mkv";

OutputCodec codecOf(ChunkOutput output) {
  return output == ChunkOutput::sideBySideHevc ? OutputCodec::h265 : OutputCodec::h264;
}

} // namespace

bool isSideBySideChunk(ChunkOutput output) {
  return output != ChunkOutput::mvhevc;
}

void setSideBySideChunkOutput(ChunkPictureSettings &picture, QualityPreset preset, OutputCodec codec,
                              const fs::path &finalOutput) {
  picture.output = usesHevc(finalOutput, codec) ? ChunkOutput::sideBySideHevc : ChunkOutput::sideBySideH264;
  picture.quality = std::string(caseName(preset));
  picture.capMbps = rateCapMbps(preset);
}

SideBySideEncode segmentEncode(const ChunkPictureSettings &picture, std::int64_t pairs, const fs::path &output,
                               const ChunkJobTools &tools, const EncoderTable &encoders) {
  SideBySideEncode encode = rawPairsEncode(tools.stacker, tools.ffmpeg, picture.width, picture.height,
                                           picture.frameRateNum, picture.frameRateDen, picture.rightFirst);
  encode.encoder.arguments.insert(encode.encoder.arguments.end(), {"-map", "0:v"});
  const auto video =
      encoders.translate(streamedVideoArguments(presetOf(picture), codecOf(picture.output), kCodecNeutral));
  encode.encoder.arguments.insert(encode.encoder.arguments.end(), video.begin(), video.end());
  encode.encoder.arguments.insert(encode.encoder.arguments.end(), {"-frames:v", std::to_string(pairs), "-an", "-sn",
                                                                   "-dn", "-f", "mp4", output.string()});
  return encode;
}

void writeSegmentRecord(const std::string &ffprobe, const fs::path &segment) {
  tools::ProcessLaunch launch;
  launch.executable = ffprobe;
  launch.arguments = {"-v",  "error",   "-select_streams", "v:0", "-show_entries", "packet=pts,size",
                      "-of", "csv=p=0", segment.string()};
  const auto listed = tools::runAndCollect(launch);
  std::istringstream lines(listed.standardOutput);
  std::string record = "view side-by-side\n", line;
  std::int64_t pictures = 0;
  while (std::getline(lines, line))
    if (!line.empty()) {
      record += line + "\n";
      ++pictures;
    }
  if (!listed.status.success() || pictures == 0)
    throw ConversionError::encodingFailed(
        fmt::format("chunk {} cannot be read back: {}", segment.filename().string(), reasonLine(listed.standardError)));
  demux::writeFileAtomically(fs::path(segment).concat(".frames"), record + fmt::format("frames {}\n", pictures));
}

void joinSegments(PipelineRun &run, const std::vector<fs::path> &segments, std::int64_t pictures,
                  const fs::path &folder, const fs::path &output) {
  run.report(ConversionStage::encoding, 0.96);
  std::string list = "ffconcat version 1.0\n";
  for (const auto &segment : segments)
    list += "file " + tools::singleQuoted(fs::absolute(segment).string()) + "\n";
  const fs::path listFile = folder / "segments.ffconcat";
  demux::writeFileAtomically(listFile, list);

  // The stream tags of the one-piece encode; its codec words went into the segments.
  std::vector<std::string> tags;
  const auto video = videoArguments(run.job.qualityPreset, run.job.outputCodec, output);
  for (std::size_t i = 0; i + 1 < video.size(); ++i)
    if (video[i] == "-tag:v" || video[i].starts_with("-metadata"))
      tags.insert(tags.end(), {video[i], video[++i]});
  const std::string ffmpeg = requireFfmpeg(run.engine);
  const EncoderTable encoders = EncoderTable::probe(ffmpeg);
  tools::ProcessLaunch launch;
  launch.executable = ffmpeg;
  launch.arguments = {"-nostdin", "-y", "-v", "error",           "-f", "concat",
                      "-safe",    "0",  "-i", listFile.string(), "-i", run.trackSource.string(),
                      "-map",     "0:v"};
  auto append = [&launch](const std::vector<std::string> &words) {
    launch.arguments.insert(launch.arguments.end(), words.begin(), words.end());
  };
  append(sourceTrackArguments(1, output));
  append({"-c:v", "copy"});
  append(tags);
  append(encoders.translate(streamAudioArgumentList(run.job.outputTarget)));
  // The pictures' length: stream copy keeps the sound packets that start
  // before it; -shortest alone would let the concat's quicker pace carry one
  // more through.
  const double seconds =
      static_cast<double>(pictures) * static_cast<double>(run.frameRateDen) / static_cast<double>(run.frameRateNum);
  append(soundEndArguments(output, seconds));
  append({"-movflags", "+faststart", output.string()});
  auto process = run.engine.createCurrentProcess(std::move(launch));
  const auto status = tools::runAndStreamLines(*process, {}, {});
  if (run.engine.isCancelled())
    throw ConversionError::cancelled();
  std::error_code ec;
  if (!status.success() || fs::file_size(output, ec) == 0 || ec)
    throw ConversionError::encodingFailed(toolFailureText(
        "ffmpeg", "segment joiner", status.signalled ? 128 + status.terminationStatus : status.terminationStatus,
        reasonLine(process->errorTail())));
}

} // namespace kestrova::pipeline
