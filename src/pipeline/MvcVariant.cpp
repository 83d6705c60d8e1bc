#include "pipeline/MvcVariant.h"

#include "pipeline/PipelineEngine.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

std::optional<PlacedFifo> placeFifo(PipelineEngine &engine, const fs::path &fifo, std::string &refusal) {
  std::error_code ignored;
  fs::remove(fifo, ignored);
  if (::mkfifo(fifo.c_str(), 0644) == 0)
    return PlacedFifo{fifo, std::nullopt};
  const int error = errno;
  fs::remove(fifo, ignored); // exfat-fuse leaves a plain file behind
  engine.verbose("\u26a0\ufe0f mkfifo failed (errno " + std::to_string(error) + ") \u2014 trying a scratch folder");
  PlacedFifo placed{{}, tools::createFifoFolder(std::nullopt, "kestrova-")};
  if (placed.folder) {
    placed.path = placed.folder->path() / fifo.filename();
    if (::mkfifo(placed.path.c_str(), 0600) == 0) {
      engine.log("\u26a0\ufe0f No FIFO in the output folder (" + std::string(std::strerror(error)) +
                 ") \u2014 the FIFO is in " + placed.folder->path().string());
      return placed;
    }
  }
  refusal = "the output folder takes none (" + std::string(std::strerror(error)) + "), nor does a temporary folder";
  return std::nullopt;
}

} // namespace kestrova::pipeline
