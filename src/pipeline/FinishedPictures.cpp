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

namespace kestrova::pipeline {
namespace fs = std::filesystem;

bool missesPictures(std::int64_t held, std::int64_t film) {
  return film > 0 && held + 1 < film;
}

std::int64_t countFilePictures(PipelineRun &run, const fs::path &file) {
  tools::ProcessLaunch launch;
  launch.executable = requireTool(run.engine, "ffprobe");
  launch.arguments = {
      "-v",  "error",   "-select_streams", "v:0", "-count_packets", "-show_entries", "stream=nb_read_packets",
      "-of", "csv=p=0", file.string()};
  std::string output;
  auto process = run.engine.createCurrentProcess(std::move(launch));
  const auto status = tools::runAndStreamLines(*process, [&output](std::string_view line) { output.append(line); }, {});
  if (run.engine.isCancelled())
    throw ConversionError::cancelled();
  std::int64_t pictures = -1;
  const auto parsed = std::from_chars(output.data(), output.data() + output.size(), pictures);
  if (!status.success() || parsed.ec != std::errc() || pictures < 0)
    throw ConversionError::encodingFailed(fmt::format("the finished {} cannot be read back: {}",
                                                      file.filename().string(), reasonLine(process->errorTail())));
  return pictures;
}

void checkFinishedPictures(PipelineRun &run) {
  if (run.basePictures <= 0)
    return;
  for (const auto &output : run.outputs.files()) {
    const fs::path written = run.writePath(output);
    std::error_code ec;
    if (!fs::is_regular_file(written, ec))
      continue;
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

} // namespace kestrova::pipeline
