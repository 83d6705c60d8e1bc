#pragma once

#include "core/Records.h"
#include "core/Stereo3DMode.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::pipeline {

/// The files one conversion leaves in its output folder, by their final names.
struct OutputPlan {
  /// The Full Side-by-Side file; for the Vision Pro target it is kept beside
  /// the MV-HEVC file only when the job says so (and never when the source
  /// is side by side already).
  std::optional<std::filesystem::path> sideBySide;
  /// The MV-HEVC file (Vision Pro target only).
  std::optional<std::filesystem::path> spatial;

  /// The planned files, side-by-side first.
  std::vector<std::filesystem::path> files() const;
};

/// What a conversion of `job`, whose source has the 3D layout `mode`, will
/// write. An MV-HEVC name that would be the source itself becomes
/// "<name>_MV-HEVC.mov".
/// `baseName` replaces the source's stem when the source is an intermediate
/// standing in for the user's file (a kept side-by-side file).
OutputPlan planOutputs(const ConversionJob &job, const Stereo3DMode &mode,
                       const std::optional<std::string> &baseName = std::nullopt);

/// The planned files that exist already, as files, folders or symbolic links
/// (a dangling link counts). The window asks about these before it converts.
std::vector<std::filesystem::path> existingOutputs(const OutputPlan &plan);

/// The check a conversion makes before any work: throws OutputExistsError for
/// the first existing planned file unless `job.replaceExisting`, and
/// SourceError when a planned file is the source itself (never replaced).
void checkOutputs(const ConversionJob &job, const OutputPlan &plan);

} // namespace kestrova::pipeline
