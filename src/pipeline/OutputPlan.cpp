#include "pipeline/OutputPlan.h"

#include "core/Errors.h"

#include <fmt/format.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

bool isSameFile(const fs::path &a, const fs::path &b) {
  std::error_code ec;
  return fs::exists(a, ec) && fs::equivalent(a, b, ec);
}

bool existsAsAnything(const fs::path &path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

} // namespace

std::vector<fs::path> OutputPlan::files() const {
  std::vector<fs::path> all;
  if (sideBySide)
    all.push_back(*sideBySide);
  if (spatial)
    all.push_back(*spatial);
  return all;
}

OutputPlan planOutputs(const ConversionJob &job, const Stereo3DMode &mode, const std::optional<std::string> &baseName) {
  const fs::path &folder = job.outputDirectory;
  const std::string base = baseName.value_or(job.sourceURL.stem().string());
  const bool visionPro = job.outputTarget == OutputTarget::visionPro;
  OutputPlan plan;
  if (mode.isPacked()) {
    // A file that is already full side by side, left eye first, is copied
    // under its own extension; any other packing is encoded into Matroska,
    // which takes every sound track as it is.
    const bool copied = mode == Stereo3DMode::sideBySide();
    if (visionPro)
      plan.spatial = folder / (base + "_MV-HEVC.mov");
    else
      plan.sideBySide = folder / (base + "_SBS" + (copied ? job.sourceURL.extension().string() : ".mkv"));
    return plan;
  }
  if (!visionPro || job.keepSideBySide)
    plan.sideBySide = folder / (base + (visionPro ? "_SBS.mov" : "_SBS.mkv"));
  if (visionPro) {
    fs::path spatial = folder / (base + ".mov");
    plan.spatial = isSameFile(spatial, job.sourceURL) ? folder / (base + "_MV-HEVC.mov") : spatial;
  }
  return plan;
}

std::vector<fs::path> existingOutputs(const OutputPlan &plan) {
  std::vector<fs::path> existing;
  for (const auto &file : plan.files())
    if (existsAsAnything(file))
      existing.push_back(file);
  return existing;
}

void checkOutputs(const ConversionJob &job, const OutputPlan &plan) {
  for (const auto &file : existingOutputs(plan)) {
    // Through a link or a second name the output can be the source itself;
    // replacing it would destroy what is being converted.
    if (isSameFile(file, job.sourceURL))
      throw SourceError(fmt::format("\"{}\" is the source being converted and cannot be its output; choose another "
                                    "output folder",
                                    file.string()));
    if (!job.replaceExisting)
      throw OutputExistsError(file);
  }
}

} // namespace kestrova::pipeline
