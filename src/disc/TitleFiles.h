#pragma once

#include "disc/DiscFiles.h"
#include "disc/DiscTitle.h"

#include <cstdint>
#include <filesystem>

namespace kestrova::disc {

/// The playlist file tsMuxeR reads for a title, and what it cost to get there.
struct TitleFiles {
  std::filesystem::path playlist;
  /// Bytes copied out of an image into the work folder (0 for a folder disc).
  std::uint64_t copiedBytes = 0;
};

/// A folder disc's own playlist file. For an image, copies of the playlist,
/// its clip infos and clips under `workFolder`/disc (tsMuxeR reads real files
/// only), after checking that the work folder's file system has room for them
/// and a margin. Throws NoSpaceError, SourceError or the file-system error.
TitleFiles titleFiles(const DiscFiles &files, const DiscTitle &title, const std::filesystem::path &workFolder);

} // namespace kestrova::disc
