#pragma once

#include "core/Errors.h"

#include <filesystem>
#include <optional>

namespace kestrova {

/// Neither $HOME nor the password database names a home folder for this user.
class NoHomeError : public Error {
public:
  using Error::Error;
};

/// $HOME when it is set and not empty, else the home folder the password
/// database gives for the real user id, else nothing.
std::optional<std::filesystem::path> homeDirectory();

/// homeDirectory(), or NoHomeError naming both places that were asked.
std::filesystem::path requireHomeDirectory();

} // namespace kestrova
