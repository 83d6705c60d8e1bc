#pragma once

#include "core/Log.h"
#include "core/Records.h"
#include "disc/DiscFiles.h"
#include "disc/DiscTitle.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace kestrova::pipeline {

/// A Blu-ray disc input, opened and its title decided before any work.
struct DiscSource {
  std::unique_ptr<disc::DiscFiles> files;
  disc::DiscTitle title;
};

/// Opens the disc `job.sourceURL` names (a disc folder, its BDMV folder, a
/// playlist, a clip or SSIF file inside one, or an image) and decides the
/// title to convert, telling `say` which and why. Nothing for a plain file;
/// a lone clip that belonged to a disc gets a warning. Throws SourceError
/// for a disc that cannot be converted.
std::optional<DiscSource> openDiscSource(const ConversionJob &job, const LogFn &say);

/// The facts the window shows for a disc input (its name, the chosen
/// playlist's length); nothing for a plain file. Throws SourceError for a
/// disc that cannot be converted.
std::optional<SourceFileInfo> analyzeDiscSource(const std::filesystem::path &source);

/// The video facts of a disc title, from its playlist (tsMuxeR reads the rest).
SourceFileInfo discSourceInfo(const disc::DiscTitle &title, const std::filesystem::path &source);

/// The playlist file tsMuxeR reads: the disc's own, or for an image a copy
/// in `workDirectory` with the clips it plays (the cost goes to `log`).
/// Throws NoSpaceError, SourceError or the file-system error.
std::filesystem::path prepareDiscPlaylist(const DiscSource &source, const std::filesystem::path &workDirectory,
                                          const LogFn &log);

} // namespace kestrova::pipeline
