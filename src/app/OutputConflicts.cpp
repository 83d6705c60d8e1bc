#include "app/OutputConflicts.h"

#include "core/Errors.h"
#include "pipeline/LayoutRequest.h"
#include "pipeline/OutputPlan.h"

#include <fmt/format.h>

namespace kestrova::app {

namespace fs = std::filesystem;

namespace {

// The layout the run will read the source as: the one the user chose for the
// file, which names different outputs (a packed film's encode is Matroska).
Stereo3DMode plannedLayout(const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo) {
  const Stereo3DMode detected = sourceInfo ? sourceInfo->stereoMode : Stereo3DMode::mvcSeparateTracks();
  try {
    return pipeline::layoutForJob(job, detected);
  } catch (const SourceError &) {
    return detected; // the run refuses the file, saying why
  }
}

} // namespace

std::vector<fs::path> existingOutputs(const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo) {
  return pipeline::existingOutputs(pipeline::planOutputs(job, plannedLayout(job, sourceInfo)));
}

std::vector<fs::path> plannedOutputs(const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo) {
  return pipeline::planOutputs(job, plannedLayout(job, sourceInfo)).files();
}

ReplaceQuestion replaceQuestion(const std::vector<fs::path> &existing) {
  ReplaceQuestion question{"Replace Existing Files?", {}, "Replace"};
  const std::string folder = existing.front().parent_path().string();
  if (existing.size() == 1) {
    question.text = fmt::format("\u201c{}\u201d already exists in {}. Replacing it overwrites its contents.",
                                existing.front().filename().string(), folder);
    return question;
  }
  std::string names;
  for (const auto &file : existing)
    names += "\n\u2022 " + file.filename().string();
  question.text = fmt::format("{} files already exist in {}:{}\nReplacing them overwrites their contents.",
                              existing.size(), folder, names);
  question.confirm = "Replace All";
  return question;
}

} // namespace kestrova::app
