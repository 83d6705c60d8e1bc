#pragma once

#include "core/Log.h"

#include <filesystem>
#include <string>

namespace kestrova::pipeline {

/// The two elementary streams a demux left in the work directory.
struct ViewFiles {
  std::filesystem::path base; ///< the H.264 base view
  std::filesystem::path mvc;  ///< the MVC dependent view
};

/// Finds the views: `<baseName>.264` and `<baseName>.mvc` when both exist,
/// otherwise the first ".264" and the first ".mvc" entry of the directory
/// (tsMuxeR names them `<base>.track_<N>.264/.mvc`), or the second ".264"
/// as the MVC view when no ".mvc" exists. Entries are taken in name order,
/// so that the lower track number is the base view. Lines go to `verbose`.
/// Throws ConversionError::demuxFailed when a view is missing, and the
/// listing's file-system error unchanged.
ViewFiles findViewFiles(const std::filesystem::path &workDirectory, const std::string &baseName, const LogFn &verbose);

} // namespace kestrova::pipeline
