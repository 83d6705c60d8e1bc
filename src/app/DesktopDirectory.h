#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace kestrova::app {

/// The desktop directory named by an XDG user-dirs file's XDG_DESKTOP_DIR line
/// ("$HOME/..." or an absolute path), or nothing when the text names none.
std::optional<std::filesystem::path> desktopFromUserDirs(std::string_view userDirsText,
                                                         const std::filesystem::path &home);

/// The user's desktop directory: from $XDG_CONFIG_HOME/user-dirs.dirs (or
/// ~/.config/user-dirs.dirs), else ~/Desktop; nothing without a home.
std::optional<std::filesystem::path> userDesktopDirectory();

/// The home folder as homeDirectory() finds it ($HOME, else the password database).
std::optional<std::filesystem::path> userHomeDirectory();

} // namespace kestrova::app
