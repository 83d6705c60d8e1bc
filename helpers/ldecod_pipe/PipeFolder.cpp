#include "PipeFolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace kestrova::helpers {

namespace {

[[noreturn]] void fail(const std::string &what) {
  throw PumpError("ldecod-pipe: " + what + ": " + std::strerror(errno));
}

kestrova::UniqueFd openOrFail(const std::string &path, int flags, const std::string &what) {
  kestrova::UniqueFd fd(::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid())
    fail(what + " " + path);
  return fd;
}

} // namespace

PipeFolder::PipeFolder(const std::string &outputFile) {
  std::filesystem::path parent = std::filesystem::path(outputFile).parent_path();
  folder_ = tools::createFifoFolder(parent.empty() ? std::filesystem::path(".") : parent, ".ldecod-pipe-");
  if (!folder_)
    fail("cannot make a folder for named pipes beside " + outputFile + " or in a temporary folder");
  for (const char *fifo : {kInputName, "out_ViewId0000.yuv", "out_ViewId0001.yuv"})
    if (::mkfifo((path() / fifo).c_str(), 0600) != 0)
      fail("cannot make the named pipe " + (path() / fifo).string());
}

PumpEndpoints PipeFolder::openEndpoints(const std::string &source) const {
  PumpEndpoints io;
  io.source = openOrFail(source, O_RDONLY, "cannot open the input stream");
  // Opened for reading too, so that neither side waits for the other to
  // open; the decoder sees the end of the stream once this end is closed.
  io.decoderInput = openOrFail((path() / kInputName).string(), O_RDWR, "cannot open");
  io.views[0] = openOrFail((path() / "out_ViewId0000.yuv").string(), O_RDONLY, "cannot open");
  io.views[1] = openOrFail((path() / "out_ViewId0001.yuv").string(), O_RDONLY, "cannot open");
  return io;
}

} // namespace kestrova::helpers
