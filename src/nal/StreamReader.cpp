#include "nal/StreamReader.h"

#include "nal/AnnexB.h"
#include "nal/InterleaveError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fmt/format.h>
#include <system_error>

namespace kestrova::nal {
namespace {

UniqueFd openForReading(const std::filesystem::path &path) {
  std::error_code ignored;
  if (!std::filesystem::exists(path, ignored))
    throw InterleaveError::fileNotFound(path.string());
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid())
    throw FileAccessError("open", path.string(), errno);
  return fd;
}

ReaderLimits checked(ReaderLimits limits) {
  // A unit needs its start code plus a few bytes of look-ahead to be found.
  limits.capacity = std::max<std::size_t>(limits.capacity, 64);
  limits.chunk = std::clamp<std::size_t>(limits.chunk, 1, limits.capacity);
  return limits;
}

} // namespace

StreamReader::StreamReader(const std::filesystem::path &path, std::uint8_t delimiterType, ReaderLimits limits)
    : StreamReader(openForReading(path), path.string(), delimiterType, limits) {}

StreamReader::StreamReader(UniqueFd fd, std::string name, std::uint8_t delimiterType, ReaderLimits limits)
    : fd_(std::move(fd)), name_(std::move(name)), delimiterType_(delimiterType), limits_(checked(limits)),
      buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(limits_.capacity)) {
  // Only a hint for the kernel's read-ahead; pipes refuse it, which is fine.
  ::posix_fadvise(fd_.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
}

bool StreamReader::refill() {
  if (eof_)
    return true;
  if (start_ > 0 && limits_.capacity - end_ < limits_.chunk) {
    // Only the unfinished unit is left here; moving it once per buffer's
    // worth of data keeps the cost far below one copy of the stream.
    std::memmove(buffer_.get(), buffer_.get() + start_, available());
    end_ -= start_;
    start_ = 0;
  }
  const std::size_t room = std::min(limits_.chunk, limits_.capacity - end_);
  if (room == 0)
    return false;
  ssize_t got;
  do
    got = ::read(fd_.get(), buffer_.get() + end_, room);
  while (got < 0 && errno == EINTR);
  if (got < 0)
    throw InterleaveError::readError(fmt::format("{}: {}", name_, std::system_category().message(errno)));
  if (got == 0)
    eof_ = true;
  end_ += static_cast<std::size_t>(got);
  return true;
}

void StreamReader::failTooLong(const char *what) const {
  throw InterleaveError::readError(fmt::format("{}: {} at byte offset {} does not end within the {} byte read buffer",
                                               name_, what, position_, limits_.capacity));
}

void StreamReader::skipLeadingJunk() {
  // Look for the first delimiter in as much of the file as the buffer holds.
  while (!eof_ && end_ < limits_.capacity)
    refill();
  if (const auto first = annexb::findNalUnit(pending(), 0, delimiterType_)) {
    start_ += *first;
    position_ += *first;
    discarded_ += *first;
  } else if (!eof_) {
    failTooLong("data before the first access unit delimiter");
  }
  // Without any delimiter and at the end of the file, the whole file is one unit.
}

std::optional<AccessUnit> StreamReader::readAccessUnit() {
  if (firstAU_) {
    firstAU_ = false;
    skipLeadingJunk();
  }
  // Enough bytes to recognise the unit's own opening start code.
  while (available() < 6 && !eof_)
    if (!refill())
      failTooLong("access unit");
  if (available() == 0)
    return std::nullopt;

  std::size_t scan = annexb::unitScanStart(pending());
  std::size_t length;
  for (;;) {
    if (const auto next = annexb::findNalUnit(pending(), scan, delimiterType_)) {
      length = *next;
      break;
    }
    if (eof_) {
      length = available();
      break;
    }
    // Positions below size - 5 are settled; retest the rest once more has come in.
    if (available() >= 5)
      scan = std::max(scan, available() - 5);
    if (!refill())
      failTooLong("access unit");
  }

  const std::span<const std::uint8_t> unit(buffer_.get() + start_, length);
  start_ += length;
  position_ += length;
  const std::size_t opening = annexb::openingUnitLength(unit, delimiterType_);
  return AccessUnit{unit.first(opening), unit.subspan(opening)};
}

} // namespace kestrova::nal
