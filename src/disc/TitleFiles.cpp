#include "disc/TitleFiles.h"

#include "core/Errors.h"

namespace kestrova::disc {
namespace fs = std::filesystem;

TitleFiles titleFiles(const DiscFiles &files, const DiscTitle &title, const fs::path &workFolder) {
  if (auto real = files.realPath(title.playlistFile()))
    return {*real, 0};
  std::vector<std::string> wanted{title.playlistFile()};
  wanted.insert(wanted.end(), title.streamFiles.begin(), title.streamFiles.end());
  for (const auto &clipInfo : titleClipInfoFiles(title))
    if (files.size(clipInfo))
      wanted.push_back(clipInfo);
  std::uint64_t bytes = 0;
  for (const auto &file : wanted)
    bytes += files.size(file).value_or(0);
  const fs::path root = workFolder / "disc";
  // Room for the copies and for what the conversion writes beside them.
  const auto space = fs::space(workFolder);
  if (space.available < bytes + bytes / 10 + (64u << 20))
    throw NoSpaceError(workFolder);
  for (const auto &file : wanted) {
    fs::create_directories((root / file).parent_path());
    files.copy(file, root / file);
  }
  return {root / title.playlistFile(), bytes};
}

} // namespace kestrova::disc
