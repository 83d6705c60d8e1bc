#include "pipeline/SourceAnalysis.h"

#include "analysis/FFProbe.h"
#include "core/Errors.h"
#include "core/UniqueFd.h"
#include "disc/DiscLocation.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

const char *fileTypeName(mode_t mode) {
  if (S_ISDIR(mode))
    return "a folder";
  if (S_ISFIFO(mode))
    return "a named pipe (FIFO)";
  if (S_ISSOCK(mode))
    return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode))
    return "a device";
  return "not a regular file";
}

bool isDiscStream(const fs::path &source) {
  std::string extension = source.extension().string();
  for (auto &c : extension)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".m2ts" || extension == ".mts" || extension == ".ts" || extension == ".m2t";
}

} // namespace

std::optional<SourceFileInfo> analyzeSource(const tools::ToolLocator &locator, const fs::path &source) {
  return analysis::FFProbe(locator).analyze(source);
}

void checkSourceFile(const fs::path &source) {
  // A disc folder is a source too; a folder that is not one is refused here
  // with that reason ("no BDMV folder in ...").
  std::error_code error;
  if (fs::is_directory(source, error) && disc::locateDisc(source).isDisc())
    return;
  // O_NONBLOCK: opening a FIFO without a writer must not wait for one.
  UniqueFd fd(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0)
    throw SourceError(fmt::format("Cannot read input file \"{}\": {}", source.string(), std::strerror(errno)));
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0)
    throw SourceError(fmt::format("Cannot read input file \"{}\": {}", source.string(), std::strerror(errno)));
  if (!S_ISREG(status.st_mode))
    throw SourceError(
        fmt::format("Cannot read input file \"{}\": it is {}", source.string(), fileTypeName(status.st_mode)));
}

void checkConvertibleSource(const fs::path &source, const SourceFileInfo &info) {
  if (info.stereoMode.kind() != Stereo3DMode::Kind::none)
    return;
  // The report sets a resolution only from a video stream with a size.
  if (info.resolution == "Unknown")
    throw SourceError(fmt::format("no video stream in \"{}\"; nothing to convert", source.string()));
  if (isDiscStream(source))
    throw SourceError(fmt::format("no MVC (3D) view found in \"{}\": it holds 2D video only", source.string()));
  if (source.extension() == ".mkv" || source.extension() == ".MKV")
    return;
  throw SourceError(fmt::format("no 3D video found in \"{}\": it is neither an MVC, a frame-alternate nor a "
                                "side-by-side video",
                                source.string()));
}

} // namespace kestrova::pipeline
