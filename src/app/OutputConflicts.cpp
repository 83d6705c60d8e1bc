#include "app/OutputConflicts.h"

#include <fmt/format.h>

namespace kestrova::app {

namespace fs = std::filesystem;

std::vector<fs::path> existingOutputs(const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo) {
  const fs::path &out = job.outputDirectory;
  const std::string base = job.sourceURL.stem().string();
  const bool visionPro = job.outputTarget == OutputTarget::visionPro;
  const auto kind = sourceInfo ? sourceInfo->stereoMode.kind() : Stereo3DMode::Kind::mvcSeparateTracks;
  std::vector<fs::path> planned;
  if (kind == Stereo3DMode::Kind::sideBySide) {
    planned.push_back(visionPro ? out / (base + "_MV-HEVC.mov")
                                : out / (base + "_SBS" + job.sourceURL.extension().string()));
  } else {
    planned.push_back(out / (base + (visionPro ? "_SBS.mov" : "_SBS.mkv")));
    if (visionPro) {
      // An MV-HEVC result named like the source gets a suffix instead of
      // replacing it.
      fs::path spatial = out / (base + ".mov");
      std::error_code ec;
      planned.push_back(fs::equivalent(spatial, job.sourceURL, ec) ? out / (base + "_MV-HEVC.mov") : spatial);
    }
  }
  std::vector<fs::path> present;
  for (const auto &file : planned) {
    std::error_code ec;
    if (fs::symlink_status(file, ec).type() != fs::file_type::not_found && !ec)
      present.push_back(file);
  }
  return present;
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
