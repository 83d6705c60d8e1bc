#pragma once

#include "core/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <stop_token>
#include <string>

namespace kestrova::nal {

/// A write that the operating system refused (for example EPIPE when the
/// reader of a FIFO has gone). `what()` is the system's description.
class WriteFailure : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// Buffered output to a file or FIFO through plain write(2) calls, with
/// interrupted and partial writes continued. Small pieces are gathered in a
/// buffer of `bufferSize` bytes; large ones are written directly, in order.
class OutputStream {
public:
  static constexpr std::size_t kDefaultBufferSize = 4u << 20;
  /// Pieces at least this large are written without being copied first.
  static constexpr std::size_t kDirectWriteSize = 256u << 10;

  /// Opens `path` for writing: creates an empty file when nothing is there,
  /// empties an existing regular file, and writes into an existing FIFO as
  /// it is. Opening a FIFO waits for its reader; when `stop` is requested
  /// meanwhile, no value is returned. Throws FileAccessError when the path
  /// cannot be opened.
  static std::optional<OutputStream> open(const std::filesystem::path &path, std::stop_token stop = {},
                                          std::size_t bufferSize = kDefaultBufferSize);
  /// Writes into an open descriptor.
  explicit OutputStream(UniqueFd fd, std::size_t bufferSize = kDefaultBufferSize);

  /// Queues `bytes`; throws WriteFailure when a write on the way fails.
  void append(std::span<const std::uint8_t> bytes);
  /// Writes everything queued; throws WriteFailure.
  void flush();
  /// Closes the descriptor without writing what is still queued; a close
  /// failure is ignored.
  void close() { fd_.reset(); }

private:
  UniqueFd fd_;
  std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t used_ = 0;

  void writeAll(const std::uint8_t *data, std::size_t size);
};

} // namespace kestrova::nal
