#include "nal/OutputStream.h"

#include "nal/InterleaveError.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <system_error>

namespace kestrova::nal {
namespace {

constexpr auto kReaderPollInterval = std::chrono::milliseconds(10);

} // namespace

std::optional<OutputStream> OutputStream::open(const std::filesystem::path &path, std::stop_token stop,
                                               std::size_t bufferSize) {
  // A FIFO without a reader would block a plain open() with no way to cancel
  // it; opened non-blocking it fails with ENXIO instead, so the wait for the
  // decoder can watch the stop token. O_TRUNC leaves a FIFO alone.
  std::mutex mutex;
  std::condition_variable_any wakeUp;
  for (;;) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644));
    if (fd.valid()) {
      const int flags = ::fcntl(fd.get(), F_GETFL);
      if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) < 0)
        throw FileAccessError("open", path.string(), errno);
      return OutputStream(std::move(fd), bufferSize);
    }
    if (errno == EINTR)
      continue;
    if (errno != ENXIO)
      throw FileAccessError("open", path.string(), errno);
    std::unique_lock lock(mutex);
    wakeUp.wait_for(lock, stop, kReaderPollInterval, [] { return false; });
    if (stop.stop_requested())
      return std::nullopt;
  }
}

OutputStream::OutputStream(UniqueFd fd, std::size_t bufferSize)
    : fd_(std::move(fd)), capacity_(bufferSize > 0 ? bufferSize : 1),
      buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(capacity_)) {}

void OutputStream::append(std::span<const std::uint8_t> bytes) {
  if (bytes.empty())
    return; // an empty span may carry no pointer, which memcpy must not see
  if (bytes.size() >= kDirectWriteSize) {
    // Large units (most of a film's bytes) go out as they are: one system
    // call more, one copy less.
    flush();
    writeAll(bytes.data(), bytes.size());
    return;
  }
  if (bytes.size() <= capacity_ - used_) {
    std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
    return;
  }
  flush();
  if (bytes.size() >= capacity_) {
    writeAll(bytes.data(), bytes.size());
    return;
  }
  std::memcpy(buffer_.get(), bytes.data(), bytes.size());
  used_ = bytes.size();
}

void OutputStream::flush() {
  const std::size_t size = used_;
  used_ = 0;
  writeAll(buffer_.get(), size);
}

void OutputStream::writeAll(const std::uint8_t *data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd_.get(), data, size);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      throw WriteFailure(std::system_category().message(errno));
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

} // namespace kestrova::nal
