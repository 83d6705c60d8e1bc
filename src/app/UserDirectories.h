#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace kestrova::app {

/// The folder an XDG user-dirs file's line for `key` ("XDG_VIDEOS_DIR") names
/// ("$HOME/..." or an absolute path), or nothing when the text names none.
std::optional<std::filesystem::path> userDirFromUserDirs(std::string_view userDirsText, std::string_view key,
                                                         const std::filesystem::path &home);

/// The user's videos folder: from $XDG_CONFIG_HOME/user-dirs.dirs (or
/// ~/.config/user-dirs.dirs), else ~/Videos; nothing without a home.
std::optional<std::filesystem::path> userVideosDirectory();

/// The home folder as homeDirectory() finds it ($HOME, else the password database).
std::optional<std::filesystem::path> userHomeDirectory();

} // namespace kestrova::app
