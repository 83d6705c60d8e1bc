#include "pipeline/SideBySidePipeline.h"
#include "pipeline/RequiredTool.h"

#include "core/Errors.h"
#include "core/UniqueFd.h"
#include "pipeline/EncoderParameters.h"
#include "pipeline/EncoderTable.h"
#include "pipeline/MvhevcConversion.h"
#include "pipeline/PackedFrames.h"
#include "pipeline/ToolOutputParsers.h"
#include "tools/Process.h"

#include <cerrno>
#include <fcntl.h>
#include <stop_token>
#include <unistd.h>
#include <vector>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

// Copies `from` to `to` (replaced) in pieces, so that a cancel stops a copy
// of a film at once; the caller's staging removes the partial copy.
void copyCancellably(const fs::path &from, const fs::path &to, const std::stop_token &stop) {
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0)
    throw fs::filesystem_error("cannot read", from, std::error_code(errno, std::generic_category()));
  UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (out.get() < 0)
    throw fs::filesystem_error("cannot write", to, std::error_code(errno, std::generic_category()));
  constexpr std::size_t piece = 8 << 20;
  // copy_file_range refuses some pairs of file systems; plain reads and
  // writes then do the same.
  bool inKernel = true;
  std::vector<char> buffer;
  for (;;) {
    if (stop.stop_requested())
      throw ConversionError::cancelled();
    ssize_t copied = -1;
    if (inKernel) {
      copied = ::copy_file_range(in.get(), nullptr, out.get(), nullptr, piece, 0);
      if (copied < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
        inKernel = false;
        buffer.resize(1 << 20);
        continue;
      }
    } else {
      copied = ::read(in.get(), buffer.data(), buffer.size());
      for (ssize_t done = 0; copied > 0 && done < copied;) {
        ssize_t written = ::write(out.get(), buffer.data() + done, static_cast<std::size_t>(copied - done));
        if (written < 0 && errno != EINTR)
          throw fs::filesystem_error("cannot write", to, std::error_code(errno, std::generic_category()));
        done += written > 0 ? written : 0;
      }
    }
    if (copied < 0 && errno == EINTR)
      continue;
    if (copied < 0)
      throw fs::filesystem_error("cannot copy", from, to, std::error_code(errno, std::generic_category()));
    if (copied == 0)
      break;
  }
  if (::fsync(out.get()) != 0)
    throw fs::filesystem_error("cannot write", to, std::error_code(errno, std::generic_category()));
}

ConversionResult copyToOutput(PipelineRun &run) {
  const fs::path &output = run.outputs.sideBySide.value();
  run.report(ConversionStage::encoding, 0.5);
  run.engine.verbose("Input is already SBS \u2014 copying to output...");
  copyCancellably(run.job.sourceURL, run.writePath(output), run.engine.stopToken());
  run.succeeded = true;
  return {output.string(), run.workDirectory, std::nullopt};
}

// ffmpeg's arguments for a full side-by-side file from a source packed the
// other ways (written for VideoToolbox; the encoder table translates them).
std::vector<std::string> sideBySideArguments(const PipelineRun &run, const fs::path &output) {
  std::vector<std::string> arguments{
      "-y",   "-i",  run.job.sourceURL.string(), "-filter_complex", sideBySideFilter(run.stereoMode), "-map", "[sbs]",
      "-map", "0:a?"};
  if (run.job.durationLimit)
    arguments.insert(arguments.end(), {"-t", std::to_string(*run.job.durationLimit)});
  auto video = videoArguments(run.job.qualityPreset, run.job.outputCodec, output);
  arguments.insert(arguments.end(), video.begin(), video.end());
  arguments.insert(arguments.end(),
                   {"-c:a", "copy", "-sn", "-dn", "-metadata:s:v:0", "stereo_mode=left_right", output.string()});
  return arguments;
}

// Cuts the eyes out of the source's pictures into a full side-by-side file.
ConversionResult encodeToOutput(PipelineRun &run) {
  const fs::path &output = run.outputs.sideBySide.value();
  run.plan.follow(ProgressRoad::packedToSideBySide);
  run.report(ConversionStage::encoding, 0.05);
  run.engine.log("Encoding " + run.stereoMode.text() + " \u2192 Full SBS 3D...");
  const std::string ffmpeg = requireFfmpeg(run.engine);
  const fs::path written = run.writePath(output);
  tools::ProcessLaunch launch;
  launch.executable = ffmpeg;
  launch.arguments = EncoderTable::probe(ffmpeg).translate(sideBySideArguments(run, written));
  launch.standardOutput = tools::StreamMode::discard;
  auto process = run.engine.createCurrentProcess(std::move(launch));
  double duration = run.job.durationLimit ? static_cast<double>(*run.job.durationLimit) : run.duration;
  FfmpegProgressParser parser(
      duration > 0 ? duration : 7200.0, [&run](ConversionStage stage, double fraction) { run.report(stage, fraction); },
      run.engine.onLog);
  auto status = tools::runAndStreamLines(*process, {}, [&parser](std::string_view line) { parser.onLine(line); });
  if (!status.success() || !fs::exists(written)) {
    throw ConversionError::encodingFailed("ffmpeg could not encode the side-by-side file (exit " +
                                          std::to_string(status.terminationStatus) + ")\n" + parser.kept().joined(20));
  }
  run.succeeded = true;
  return {output.string(), run.workDirectory, std::nullopt};
}

fs::path remuxForConverter(PipelineRun &run) {
  run.engine.log("Remuxing MKV \u2192 MOV + transcoding audio to AAC 5.1...");
  const std::string ffmpeg = requireFfmpeg(run.engine);
  fs::path remuxed = run.workDirectory / (run.baseName + "_remuxed.mov");
  tools::ProcessLaunch launch;
  launch.executable = ffmpeg;
  std::vector<std::string> arguments{"-y", "-i", run.job.sourceURL.string(), "-c:v", "copy"};
  if (takesHvc1Tag(run.engine, run.job.sourceURL))
    arguments.insert(arguments.end(), {"-tag:v", "hvc1"});
  arguments.insert(arguments.end(), {"-c:a", "aac_at", "-b:a", "448k", "-ac", "6", "-ar", "48000", "-movflags",
                                     "+faststart", remuxed.string()});
  launch.arguments = EncoderTable::probe(ffmpeg).translate(arguments);
  launch.standardOutput = tools::StreamMode::discard;
  // The current process, so that a cancel ends the remux too; its standard
  // error is kept for the failure report.
  auto process = run.engine.createCurrentProcess(std::move(launch));
  auto status = tools::runAndStream(*process, {}, {});
  if (!status.success())
    throw ConversionError::encodingFailed("MKV \u2192 MOV remux failed (exit " +
                                          std::to_string(status.terminationStatus) + ")");
  run.engine.log("Remux complete: " + remuxed.filename().string());
  return remuxed;
}

} // namespace

bool copiesSource(const PipelineRun &run) {
  return run.job.outputTarget == OutputTarget::sbs3D && run.stereoMode == Stereo3DMode::sideBySide();
}

ConversionResult runSideBySidePipeline(PipelineRun &run) {
  run.engine.verbose("=== Side-by-Side Pipeline ===");
  run.engine.verbose("Input already SBS \u2014 skipping demux/interleave/decode");
  if (run.job.outputTarget == OutputTarget::sbs3D)
    return copiesSource(run) ? copyToOutput(run) : encodeToOutput(run);

  const fs::path &output = run.outputs.spatial.value();
  run.plan.follow(ProgressRoad::packedToSpatial);
  run.report(ConversionStage::convertingMVHEVC, 0.05);
  run.engine.verbose("=== Converting SBS \u2192 MV-HEVC ===");
  fs::path converterInput = hasExtension(run.job.sourceURL, "mkv") ? remuxForConverter(run) : run.job.sourceURL;
  // The converter cuts out and scales the eyes itself: one encode.
  convertToMVHEVC(
      run.engine, converterInput, run.writePath(output), run.job.qualityPreset,
      [&run](ConversionStage stage, double fraction) { run.report(stage, fraction); },
      converterLayoutArguments(run.stereoMode));
  run.engine.verbose("\u2705 MV-HEVC conversion complete: " + output.filename().string());
  run.succeeded = true;
  return {output.string(), run.workDirectory, std::nullopt};
}

} // namespace kestrova::pipeline
