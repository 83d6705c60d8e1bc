#include "app/OutputConflicts.h"

#include "pipeline/OutputPlan.h"

#include <fmt/format.h>

namespace kestrova::app {

namespace fs = std::filesystem;

namespace {

Stereo3DMode plannedLayout(const std::optional<SourceFileInfo> &sourceInfo) {
  return sourceInfo ? sourceInfo->stereoMode : Stereo3DMode::mvcSeparateTracks();
}

} // namespace

std::vector<fs::path> existingOutputs(const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo) {
  return pipeline::existingOutputs(pipeline::planOutputs(job, plannedLayout(sourceInfo)));
}

std::vector<fs::path> plannedOutputs(const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo) {
  return pipeline::planOutputs(job, plannedLayout(sourceInfo)).files();
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
