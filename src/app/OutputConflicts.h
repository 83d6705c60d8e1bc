#pragma once

#include "core/Records.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::app {

/// The files of a conversion's output names that exist already (files,
/// folders or links, a dangling link included). Runs on the main thread
/// before a run starts, so it only looks, never opens.
using OutputConflictsFn = std::function<std::vector<std::filesystem::path>(
    const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo)>;

/// The files the pipeline plans for `job` and a source of the analysed
/// layout (an unknown layout is taken as a Blu-ray 3D stream) that exist.
std::vector<std::filesystem::path> existingOutputs(const ConversionJob &job,
                                                   const std::optional<SourceFileInfo> &sourceInfo);

/// The files the pipeline plans for `job` and a source of the analysed
/// layout (an unknown layout is taken as a Blu-ray 3D stream), main file last.
std::vector<std::filesystem::path> plannedOutputs(const ConversionJob &job,
                                                  const std::optional<SourceFileInfo> &sourceInfo);

/// The question asked before existing files are replaced.
struct ReplaceQuestion {
  std::string title;   ///< "Replace Existing Files?"
  std::string text;    ///< names the files and their folder
  std::string confirm; ///< the replacing button's label
};

/// The question for `existing` (at least one file).
ReplaceQuestion replaceQuestion(const std::vector<std::filesystem::path> &existing);

} // namespace kestrova::app
