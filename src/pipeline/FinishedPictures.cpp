#include "pipeline/FinishedPictures.h"

#include "core/Errors.h"
#include "pipeline/PipelineRun.h"
#include "pipeline/RequiredTool.h"
#include "pipeline/ToolBlame.h"
#include "pipeline/ViewDamage.h"
#include "pipeline/WorkSpace.h"
#include "tools/Process.h"

#include <charconv>
#include <fmt/format.h>
#include <string>
#include <vector>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

bool missesPictures(std::int64_t held, std::int64_t film) {
  return film > 0 && held + 1 < film;
}

namespace {

// What ffprobe says of `file` for `selection` (its options that pick the
// value), as the engine's current process.
std::string probeFileValue(PipelineRun &run, const fs::path &file, const std::vector<std::string> &selection) {
  tools::ProcessLaunch launch;
  launch.executable = requireTool(run.engine, "ffprobe");
  launch.arguments = {"-v", "error"};
  launch.arguments.insert(launch.arguments.end(), selection.begin(), selection.end());
  launch.arguments.insert(launch.arguments.end(), {"-of", "csv=p=0", file.string()});
  std::string output;
  auto process = run.engine.createCurrentProcess(std::move(launch));
  const auto status = tools::runAndStreamLines(*process, [&output](std::string_view line) { output.append(line); }, {});
  if (run.engine.isCancelled())
    throw ConversionError::cancelled();
  if (!status.success() || output.empty())
    throw ConversionError::encodingFailed(fmt::format("the finished {} cannot be read back: {}",
                                                      file.filename().string(), reasonLine(process->errorTail())));
  return output;
}

struct WrittenOutput {
  fs::path output;  // the name it is to have
  fs::path written; // where it is until the run commits it
};

// The run's outputs that were written: the others are left to the commit to name.
std::vector<WrittenOutput> writtenOutputs(PipelineRun &run) {
  std::vector<WrittenOutput> found;
  for (const auto &output : run.outputs.files()) {
    std::error_code ec;
    if (fs::path written = run.writePath(output); fs::is_regular_file(written, ec))
      found.push_back({output, std::move(written)});
  }
  return found;
}

} // namespace

std::int64_t countFilePictures(PipelineRun &run, const fs::path &file) {
  const std::string output = probeFileValue(
      run, file, {"-select_streams", "v:0", "-count_packets", "-show_entries", "stream=nb_read_packets"});
  std::int64_t pictures = -1;
  const auto parsed = std::from_chars(output.data(), output.data() + output.size(), pictures);
  if (parsed.ec != std::errc() || pictures < 0)
    throw ConversionError::encodingFailed(
        fmt::format("the finished {} cannot be read back: ffprobe counted \"{}\"", file.filename().string(), output));
  return pictures;
}

void checkFinishedPictures(PipelineRun &run) {
  if (run.basePictures <= 0)
    return;
  for (const auto &[output, written] : writtenOutputs(run)) {
    const std::int64_t pictures = countFilePictures(run, written);
    run.engine.verbose(fmt::format("{} holds {} pictures", output.filename().string(), pictures));
    if (pictures >= run.basePictures)
      continue;
    if (!missesPictures(pictures, run.basePictures)) {
      run.engine.log(fmt::format("\u26a0\ufe0f {} holds {} of the source's {} pictures: one of them could not be "
                                 "decoded",
                                 output.filename().string(), pictures, run.basePictures));
      continue;
    }
    const double fps = framesPerSecond(run);
    throw ConversionError::encodingFailed(fmt::format(
        "{} came out with {} of the film's {} pictures ({} of {}) though no tool reported an error; nothing was "
        "written under the output's name",
        output.filename().string(), pictures, run.basePictures, pictureTimeText(static_cast<double>(pictures) / fps),
        pictureTimeText(static_cast<double>(run.basePictures) / fps)));
  }
}

void checkFinishedLength(PipelineRun &run) {
  const double claimed = convertedSeconds(run);
  if (run.basePictures > 0 || claimed <= 0)
    return;
  for (const auto &[output, written] : writtenOutputs(run)) {
    const std::string text = probeFileValue(run, written, {"-show_entries", "format=duration"});
    double seconds = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), seconds).ec != std::errc())
      continue; // "N/A": a file that does not say how long it is
    // As for MVC sources: a tenth and two pictures short is a source that
    // ends early, not a container that rounds its length.
    if (seconds >= 0.9 * claimed - 2 / framesPerSecond(run))
      continue;
    run.engine.log(fmt::format("\u26a0\ufe0f {} lasts {} where the source's container says {}: the source is "
                               "shorter than it claims (a copy or download that did not finish, or a damaged end), "
                               "only what is there is converted",
                               output.filename().string(), pictureTimeText(seconds), pictureTimeText(claimed)));
  }
}

} // namespace kestrova::pipeline
