#include "PartialFile.h"

#include "MovWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace kestrova::mvhevc {

std::string temporaryName(const std::string &finalName, long pid) {
  const auto suffix = ".partial-" + std::to_string(pid);
  // File systems allow 255 bytes a name; the final name fits, so shorten the copy of it.
  constexpr std::size_t kNameMax = 255;
  auto stem = finalName;
  const auto room = kNameMax - 1 - suffix.size();
  if (stem.size() > room) {
    auto cut = room;
    // Never split a UTF-8 sequence: back up over continuation bytes.
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) {
      --cut;
    }
    stem.resize(cut);
  }
  return "." + stem + suffix;
}

PartialFile::PartialFile(std::string finalPath) : final_(std::move(finalPath)) {
  const std::filesystem::path path(final_);
  temporary_ = (path.parent_path() / temporaryName(path.filename().string(), ::getpid())).string();
}

PartialFile::~PartialFile() {
  if (!committed_) {
    ::unlink(temporary_.c_str());
  }
}

void PartialFile::commit() {
  if (std::rename(temporary_.c_str(), final_.c_str()) != 0) {
    throw OutputError("cannot rename " + temporary_ + " to " + final_ + ": " + std::strerror(errno));
  }
  committed_ = true;
}

} // namespace kestrova::mvhevc
