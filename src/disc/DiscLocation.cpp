#include "disc/DiscLocation.h"

#include "core/Errors.h"

#include <algorithm>
#include <cctype>
#include <fmt/format.h>
#include <string>
#include <vector>

namespace kestrova::disc {
namespace fs = std::filesystem;

namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool named(const fs::path &path, std::string_view name) {
  return lower(path.filename().string()) == name;
}

bool isDirectory(const fs::path &path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

bool fiveDigits(const std::string &stem) {
  return stem.size() == 5 && std::all_of(stem.begin(), stem.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The root of the disc whose BDMV folder is `bdmv`, when it is one.
std::optional<fs::path> rootOfBdmv(const fs::path &bdmv) {
  if (named(bdmv, "bdmv") && isDirectory(bdmv / "PLAYLIST"))
    return bdmv.parent_path();
  return std::nullopt;
}

// The root of the disc whose BDMV tree holds `folder` (BDMV itself,
// BDMV/STREAM, BDMV/STREAM/SSIF, BDMV/BACKUP/PLAYLIST, ...).
std::optional<fs::path> rootAbove(const fs::path &folder) {
  fs::path at = folder;
  for (int level = 0; level < 4 && at.has_relative_path(); ++level, at = at.parent_path())
    if (auto root = rootOfBdmv(at))
      return root;
  return std::nullopt;
}

// Why `folder` is not a disc, and the discs it holds one level down (a
// folder of rips, or the folder a disc image lies in) by name.
std::string notADisc(const fs::path &input, const fs::path &folder) {
  std::vector<std::string> discs;
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(folder, error))
    if ((isDirectory(entry.path()) && isDirectory(entry.path() / "BDMV")) ||
        (lower(entry.path().extension().string()) == ".iso" && !isDirectory(entry.path())))
      discs.push_back(entry.path().string());
  std::sort(discs.begin(), discs.end());
  std::string text = fmt::format("no BDMV folder in \"{}\": it is not a Blu-ray disc folder", input.string());
  if (discs.empty())
    return text;
  constexpr std::size_t kNamed = 4;
  text += discs.size() == 1 ? "; the disc in it is" : "; the discs in it are";
  for (std::size_t i = 0; i < std::min(discs.size(), kNamed); ++i)
    text += fmt::format("{} \"{}\"", i == 0 ? "" : ",", discs[i]);
  if (discs.size() > kNamed)
    text += fmt::format(" and {} more", discs.size() - kNamed);
  return text + (discs.size() == 1 ? ": choose that" : ": choose one");
}

} // namespace

bool isDiscFolder(const fs::path &folder) {
  const fs::path path = fs::absolute(folder).lexically_normal();
  const fs::path clean = path.has_filename() ? path : path.parent_path();
  return isDirectory(clean) && (isDirectory(clean / "BDMV") || rootAbove(clean));
}

DiscLocation locateDisc(const fs::path &input) {
  const fs::path path = fs::absolute(input).lexically_normal();
  const fs::path clean = path.has_filename() ? path : path.parent_path();
  DiscLocation location;
  location.container = input;
  if (isDirectory(clean)) {
    if (isDirectory(clean / "BDMV")) {
      location.kind = DiscLocation::Kind::folder;
      location.container = clean;
    } else if (auto root = rootAbove(clean)) {
      location.kind = DiscLocation::Kind::folder;
      location.container = *root;
    } else {
      throw SourceError(notADisc(input, clean));
    }
    return location;
  }
  const std::string extension = lower(clean.extension().string()), stem = clean.stem().string();
  if (extension == ".iso") {
    location.kind = DiscLocation::Kind::image;
    return location;
  }
  std::optional<fs::path> root;
  const fs::path folder = clean.parent_path();
  if (extension == ".mpls" && named(folder, "playlist")) {
    // BDMV/PLAYLIST or BDMV/BACKUP/PLAYLIST
    root = rootOfBdmv(folder.parent_path());
    if (!root && named(folder.parent_path(), "backup"))
      root = rootOfBdmv(folder.parent_path().parent_path());
    if (root && fiveDigits(stem))
      location.playlist = std::stoi(stem);
  } else if (extension == ".ssif" && named(folder, "ssif") && named(folder.parent_path(), "stream")) {
    root = rootOfBdmv(folder.parent_path().parent_path());
  } else if ((extension == ".m2ts" || extension == ".mts") && named(folder, "stream")) {
    root = rootOfBdmv(folder.parent_path());
  }
  if (!root)
    return location;
  location.kind = DiscLocation::Kind::folder;
  location.container = *root;
  if (!location.playlist && fiveDigits(stem))
    location.clip = stem;
  return location;
}

} // namespace kestrova::disc
