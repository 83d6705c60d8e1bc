#include "PartialFile.h"

#include "MovWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace kestrova::mvhevc {

PartialFile::PartialFile(std::string finalPath) : final_(std::move(finalPath)) {
  const std::filesystem::path path(final_);
  temporary_ =
      (path.parent_path() / ("." + path.filename().string() + ".partial-" + std::to_string(::getpid()))).string();
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
