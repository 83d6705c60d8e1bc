#include "tools/PrivateFolder.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrova::tools {
namespace fs = std::filesystem;

std::vector<fs::path> scratchFolderCandidates() {
  std::vector<fs::path> folders;
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime == '/')
    folders.emplace_back(runtime);
  // $TMPDIR replaces /tmp, as it does for mktemp.
  const char *temporary = std::getenv("TMPDIR");
  folders.emplace_back(temporary != nullptr && *temporary == '/' ? temporary : "/tmp");
  std::erase_if(folders, [](const fs::path &folder) {
    std::error_code ignored;
    return !fs::is_directory(folder, ignored);
  });
  return folders;
}

std::optional<PrivateFolder> PrivateFolder::create(const fs::path &parent, std::string_view prefix) {
  std::error_code error;
  const fs::path absoluteParent = fs::absolute(parent, error);
  if (error)
    return std::nullopt;
  std::string pattern = (absoluteParent / (std::string(prefix) + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr)
    return std::nullopt;
  return PrivateFolder(fs::path(pattern));
}

PrivateFolder::PrivateFolder(PrivateFolder &&other) noexcept : path_(std::move(other.path_)) {
  other.path_.clear();
}

PrivateFolder &PrivateFolder::operator=(PrivateFolder &&other) noexcept {
  if (this != &other) {
    remove();
    path_ = std::move(other.path_);
    other.path_.clear();
  }
  return *this;
}

PrivateFolder::~PrivateFolder() {
  remove();
}

void PrivateFolder::remove() noexcept {
  if (path_.empty())
    return;
  std::error_code ignored;
  fs::remove_all(path_, ignored);
  path_.clear();
}

std::optional<PrivateFolder> createFifoFolder(const std::optional<fs::path> &preferred, std::string_view prefix) {
  std::vector<fs::path> places;
  if (preferred)
    places.push_back(*preferred);
  for (auto &folder : scratchFolderCandidates())
    places.push_back(std::move(folder));
  for (const auto &place : places) {
    auto folder = PrivateFolder::create(place, prefix);
    if (!folder)
      continue;
    const fs::path probe = folder->path() / "probe.fifo";
    if (::mkfifo(probe.c_str(), 0600) == 0) {
      ::unlink(probe.c_str());
      return folder;
    }
  }
  return std::nullopt;
}

} // namespace kestrova::tools
