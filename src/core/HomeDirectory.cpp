#include "core/HomeDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace kestrova {

std::optional<std::filesystem::path> homeDirectory() {
  if (const char *home = std::getenv("HOME"); home && *home)
    return std::filesystem::path(home);
  long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  passwd entry{};
  passwd *found = nullptr;
  while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 20))
    buffer.resize(buffer.size() * 2);
  if (!found || !found->pw_dir || !*found->pw_dir)
    return std::nullopt;
  return std::filesystem::path(found->pw_dir);
}

std::filesystem::path requireHomeDirectory() {
  if (auto home = homeDirectory())
    return *home;
  throw NoHomeError("no home folder: HOME is unset and the password database has no home for user id " +
                    std::to_string(::getuid()) + "; set HOME");
}

} // namespace kestrova
