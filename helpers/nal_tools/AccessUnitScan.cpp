#include "AccessUnitScan.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kestrova::helpers {

namespace {

constexpr std::uint8_t kIdrSlice = 5;
constexpr std::uint8_t kBaseDelimiter = 9;
constexpr std::uint8_t kMvcSlice = 20;

// Calls `onUnit(offset, type)` for every NAL unit, in order; `offset` is the
// first byte of its start code (the extra zero of a four-byte code included).
template <typename OnUnit> void forEachNalUnit(std::span<const std::uint8_t> s, OnUnit onUnit) {
  const std::uint8_t *data = s.data();
  std::size_t at = 2;
  while (at + 1 < s.size()) {
    const void *hit = std::memchr(data + at, 1, s.size() - 1 - at);
    if (hit == nullptr)
      return;
    std::size_t one = static_cast<std::size_t>(static_cast<const std::uint8_t *>(hit) - data);
    if (data[one - 1] == 0 && data[one - 2] == 0) {
      std::size_t start = one >= 3 && data[one - 3] == 0 ? one - 3 : one - 2;
      onUnit(start, static_cast<std::uint8_t>(data[one + 1] & 0x1F));
    }
    at = one + 1;
  }
}

} // namespace

StreamScan scanInterleaved(std::span<const std::uint8_t> stream) {
  StreamScan scan;
  scan.size = stream.size();
  bool afterMvcSlice = true; // the stream opens with a base unit
  bool unitHasIdr = false;
  forEachNalUnit(stream, [&](std::size_t offset, std::uint8_t type) {
    if (type == kBaseDelimiter || (afterMvcSlice && type != kMvcSlice)) {
      scan.unitOffsets.push_back(offset);
      unitHasIdr = false;
    }
    afterMvcSlice = type == kMvcSlice;
    if (type == kIdrSlice && !unitHasIdr && !scan.unitOffsets.empty()) {
      unitHasIdr = true;
      scan.points.push_back({scan.unitOffsets.size() - 1, scan.unitOffsets.back()});
    }
  });
  return scan;
}

StreamScan scanDelimited(std::span<const std::uint8_t> stream, std::uint8_t delimiterType) {
  StreamScan scan;
  scan.size = stream.size();
  bool unitHasIdr = false;
  forEachNalUnit(stream, [&](std::size_t offset, std::uint8_t type) {
    if (type == delimiterType) {
      scan.unitOffsets.push_back(offset);
      unitHasIdr = false;
    } else if (type == kIdrSlice && !unitHasIdr && !scan.unitOffsets.empty()) {
      unitHasIdr = true;
      scan.points.push_back({scan.unitOffsets.size() - 1, scan.unitOffsets.back()});
    }
  });
  return scan;
}

std::vector<Segment> chooseSegments(const StreamScan &scan, std::size_t count) {
  std::vector<Segment> segments;
  if (scan.unitOffsets.empty() || count == 0)
    return segments;
  // Segment starts: unit 0, then for each further target size the split
  // point nearest to it, never one already taken; when the points run out,
  // there are fewer segments.
  std::vector<SplitPoint> starts{{0, 0}};
  std::size_t next = 0;
  for (std::size_t k = 1; k < count; ++k) {
    const std::uint64_t target = scan.size / count * k;
    while (next < scan.points.size() && scan.points[next].unit <= starts.back().unit)
      ++next;
    if (next == scan.points.size())
      break;
    while (next + 1 < scan.points.size() && scan.points[next + 1].offset <= target)
      ++next;
    // Between the last point before the target and the first after it, the nearer.
    if (next + 1 < scan.points.size() && scan.points[next].offset < target &&
        scan.points[next + 1].offset - target < target - scan.points[next].offset)
      ++next;
    starts.push_back(scan.points[next]);
  }
  const std::uint64_t totalUnits = scan.unitOffsets.size();
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const bool last = i + 1 == starts.size();
    const std::uint64_t endUnit = last ? totalUnits : starts[i + 1].unit;
    const std::uint64_t endOffset = last ? scan.size : starts[i + 1].offset;
    segments.push_back({starts[i].unit, endUnit - starts[i].unit, starts[i].offset, endOffset - starts[i].offset});
  }
  return segments;
}

MappedFile::MappedFile(const std::filesystem::path &path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    throw std::system_error(errno, std::generic_category(), "cannot open " + path.string());
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    int error = errno;
    ::close(fd);
    throw std::system_error(error, std::generic_category(), "cannot read " + path.string());
  }
  size_ = static_cast<std::size_t>(info.st_size);
  if (size_ > 0) {
    void *map = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) {
      int error = errno;
      ::close(fd);
      throw std::system_error(error, std::generic_category(), "cannot map " + path.string());
    }
    ::madvise(map, size_, MADV_SEQUENTIAL);
    data_ = static_cast<const std::uint8_t *>(map);
  }
  ::close(fd);
}

MappedFile::~MappedFile() {
  if (data_ != nullptr)
    ::munmap(const_cast<std::uint8_t *>(data_), size_);
}

} // namespace kestrova::helpers
