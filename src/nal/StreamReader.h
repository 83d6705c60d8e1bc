#pragma once

#include "core/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace kestrova::nal {

/// Sizes of a reader's buffer. An access unit (or the data before the first
/// delimiter) must end within `capacity` bytes; the file is read `chunk`
/// bytes at a time.
struct ReaderLimits {
  std::size_t capacity = 16u << 20;
  std::size_t chunk = 4u << 20;
};

/// One access unit as handed out: the opening delimiter NAL unit that was
/// removed, and the rest. Both views stay valid until the next call of
/// readAccessUnit() on the same reader.
struct AccessUnit {
  std::span<const std::uint8_t> delimiter;
  std::span<const std::uint8_t> payload;
};

/// Reads one H.264 Annex B elementary stream access unit by access unit. An
/// access unit is recognised only by its opening delimiter, a NAL unit of
/// one fixed type (9 for the base view, 24 for the MVC view).
///
/// The buffer has a fixed size: bytes handed out are dropped by moving a
/// start index, and the unfinished rest is moved to the front only when a
/// read would not fit behind it, so each byte is moved at most rarely.
/// Memory therefore stays bounded whatever the file size; a unit that would
/// not fit ends the read with InterleaveError::readError.
class StreamReader {
public:
  /// Opens `path`. Throws InterleaveError::fileNotFound when nothing exists
  /// there and FileAccessError when it cannot be opened.
  StreamReader(const std::filesystem::path &path, std::uint8_t delimiterType, ReaderLimits limits = {});
  /// Reads from an open descriptor; `name` stands for it in error messages.
  StreamReader(UniqueFd fd, std::string name, std::uint8_t delimiterType, ReaderLimits limits = {});
  StreamReader(const StreamReader &) = delete;
  StreamReader &operator=(const StreamReader &) = delete;

  /// The next access unit, or no value once the stream is exhausted (and on
  /// every later call). A unit that is just its delimiter gives an empty
  /// payload. The last unit of the file is returned whole; a stream without
  /// any delimiter is one unit, unchanged. Throws InterleaveError::readError
  /// when the file cannot be read, or when a unit, or the data before the
  /// first delimiter, does not end within the buffer.
  std::optional<AccessUnit> readAccessUnit();

  /// How many bytes before the first delimiter were discarded.
  std::uint64_t discardedBytes() const { return discarded_; }

private:
  UniqueFd fd_;
  std::string name_;
  std::uint8_t delimiterType_;
  ReaderLimits limits_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t start_ = 0;      // first byte not yet handed out
  std::size_t end_ = 0;        // one past the last byte read
  std::uint64_t position_ = 0; // file offset of buffer_[start_]
  std::uint64_t discarded_ = 0;
  bool eof_ = false;
  bool firstAU_ = true;

  std::size_t available() const { return end_ - start_; }
  std::span<const std::uint8_t> pending() const { return {buffer_.get() + start_, available()}; }
  /// One read into the free space; false when there is no room for more.
  bool refill();
  void skipLeadingJunk();
  [[noreturn]] void failTooLong(const char *what) const;
};

} // namespace kestrova::nal
