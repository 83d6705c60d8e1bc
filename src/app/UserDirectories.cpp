#include "app/UserDirectories.h"

#include "core/HomeDirectory.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace kestrova::app {

namespace fs = std::filesystem;

std::optional<fs::path> userDirFromUserDirs(std::string_view text, std::string_view key, const fs::path &home) {
  std::istringstream lines{std::string(text)};
  std::string line;
  const std::string kKey = std::string(key) + "=";
  while (std::getline(lines, line)) {
    std::string_view rest(line);
    rest.remove_prefix(std::min(rest.find_first_not_of(" \t"), rest.size()));
    if (!rest.starts_with(kKey))
      continue;
    rest.remove_prefix(kKey.size());
    // The value is one double-quoted string; anything else is not a valid line.
    if (rest.size() < 2 || rest.front() != '"' || rest.find('"', 1) == std::string_view::npos)
      continue;
    std::string_view value = rest.substr(1, rest.find('"', 1) - 1);
    if (value.starts_with("$HOME"))
      return home / fs::path(std::string(value.substr(5))).relative_path();
    if (value.starts_with("/"))
      return fs::path(std::string(value));
  }
  return std::nullopt;
}

std::optional<fs::path> userHomeDirectory() {
  return homeDirectory();
}

std::optional<fs::path> userVideosDirectory() {
  auto home = userHomeDirectory();
  if (!home)
    return std::nullopt;
  const char *configHome = std::getenv("XDG_CONFIG_HOME");
  fs::path config = configHome && *configHome ? fs::path(configHome) : *home / ".config";
  std::ifstream in(config / "user-dirs.dirs");
  if (in) {
    std::stringstream text;
    text << in.rdbuf();
    if (auto videos = userDirFromUserDirs(text.str(), "XDG_VIDEOS_DIR", *home))
      return videos;
  }
  return *home / "Videos";
}

} // namespace kestrova::app
