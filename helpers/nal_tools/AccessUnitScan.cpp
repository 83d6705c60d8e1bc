#include "AccessUnitScan.h"

#include "nal/BitReader.h"
#include "nal/UnitOrder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <tuple>
#include <unistd.h>

namespace kestrova::helpers {

namespace {

constexpr std::uint8_t kIdrSlice = 5;
constexpr std::uint8_t kBaseDelimiter = 9;
constexpr std::uint8_t kMvcSlice = 20;
constexpr std::uint8_t kSequenceSet = 7;
constexpr std::uint8_t kPictureSet = 8;
constexpr std::uint8_t kSubsetSequenceSet = 15;

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
  // Where the run of units that can only open an access unit began, if one
  // is going on: a delimiter's unit starts there.
  std::optional<std::size_t> runStart;
  forEachNalUnit(stream, [&](std::size_t offset, std::uint8_t type) {
    if (!nal::opensAccessUnit(type))
      runStart.reset();
    else if (!runStart)
      runStart = offset;
    if (type == delimiterType) {
      scan.unitOffsets.push_back(*runStart);
      unitHasIdr = false;
    } else if (type == kIdrSlice && !unitHasIdr && !scan.unitOffsets.empty()) {
      unitHasIdr = true;
      scan.points.push_back({scan.unitOffsets.size() - 1, scan.unitOffsets.back()});
    }
  });
  return scan;
}

namespace {

// The id of a parameter set whose header byte is at `header`. A sequence set
// opens with profile, constraint flags and level (three bytes) before its id;
// a picture set with its id.
std::uint32_t parameterSetId(std::span<const std::uint8_t> unit, std::size_t header, std::uint8_t type) {
  nal::BitReader bits(unit.subspan(header + 1).first(std::min<std::size_t>(unit.size() - header - 1, 16)));
  if (type != kPictureSet)
    bits.bits(24);
  const std::uint32_t id = bits.ue();
  return bits.overrun ? 0 : id;
}

bool isParameterSet(std::uint8_t type) {
  return type == kSequenceSet || type == kSubsetSequenceSet || type == kPictureSet;
}

} // namespace

std::vector<NalUnitSpan> nalUnits(std::span<const std::uint8_t> stream) {
  std::vector<NalUnitSpan> units;
  forEachNalUnit(stream, [&](std::size_t offset, std::uint8_t type) {
    if (!units.empty())
      units.back().end = offset;
    const std::size_t header = stream[offset + 2] == 1 ? offset + 3 : offset + 4;
    units.push_back({offset, stream.size(), header, type});
  });
  return units;
}

std::vector<std::vector<ParameterSet>> parameterSetsAt(std::span<const std::uint8_t> stream,
                                                       const std::vector<std::uint64_t> &offsets) {
  std::vector<std::vector<ParameterSet>> result;
  // Ordered by (sequence sets before picture sets, type, id).
  std::map<std::tuple<bool, std::uint8_t, std::uint32_t>, ParameterSet> latest;
  auto snapshot = [&] {
    std::vector<ParameterSet> sets;
    for (const auto &entry : latest)
      sets.push_back(entry.second);
    result.push_back(std::move(sets));
  };
  std::size_t next = 0;
  std::optional<std::pair<std::size_t, std::uint8_t>> open; // the set being read: offset, type
  auto close = [&](std::size_t end) {
    if (!open)
      return;
    const auto unit = stream.subspan(open->first, end - open->first);
    const std::size_t header = unit[2] == 1 ? 3 : 4;
    const std::uint32_t id = parameterSetId(unit, header, open->second);
    latest[{open->second == kPictureSet, open->second, id}] = {open->second, id, unit};
    open.reset();
  };
  forEachNalUnit(stream, [&](std::size_t offset, std::uint8_t type) {
    close(offset);
    while (next < offsets.size() && offsets[next] <= offset) {
      snapshot();
      ++next;
    }
    if (isParameterSet(type))
      open = std::make_pair(offset, type);
  });
  close(stream.size());
  while (next++ < offsets.size())
    snapshot();
  return result;
}

std::vector<ParameterSet> setsNotCarried(std::span<const std::uint8_t> start, const std::vector<ParameterSet> &inForce,
                                         bool twoViews) {
  // Only the first access unit matters; a few units are enough to see it.
  const auto window = start.first(std::min<std::size_t>(start.size(), 1u << 20));
  using Key = std::tuple<bool, std::uint8_t, std::uint32_t>;
  auto keyOf = [](const ParameterSet &set) { return Key{set.type == kPictureSet, set.type, set.id}; };
  // Sets the first picture can use: those before its first slice. In an
  // interleaved stream a demuxer may have put the base view's picture sets
  // behind the base slices, into the MVC view's half, where they come too
  // late for the base picture; a subset sequence set there is in time.
  std::vector<Key> carried;
  bool baseSliceSeen = false;
  for (const auto &unit : nalUnits(window)) {
    if (twoViews ? unit.type == kMvcSlice : nal::isSlice(unit.type))
      break;
    baseSliceSeen = baseSliceSeen || nal::isSlice(unit.type);
    if (isParameterSet(unit.type) && (!baseSliceSeen || unit.type == kSubsetSequenceSet))
      carried.push_back(keyOf(
          {unit.type,
           parameterSetId(window.subspan(unit.offset, unit.end - unit.offset), unit.header - unit.offset, unit.type),
           {}}));
  }
  auto isCarried = [&](const ParameterSet &set) {
    return std::find(carried.begin(), carried.end(), keyOf(set)) != carried.end();
  };
  // Picture sets are read against their sequence set: one that goes in front
  // takes the sequence sets with it.
  const bool picturesMissing = std::any_of(inForce.begin(), inForce.end(), [&](const ParameterSet &set) {
    return set.type == kPictureSet && !isCarried(set);
  });
  std::vector<ParameterSet> missing;
  for (const auto &set : inForce)
    if (!isCarried(set) || (picturesMissing && set.type == kSequenceSet))
      missing.push_back(set);
  return missing;
}

PieceStart selfContainedStart(std::span<const std::uint8_t> piece, std::uint8_t delimiterType,
                              const std::vector<ParameterSet> &inForce) {
  const auto units = nalUnits(piece.first(std::min<std::size_t>(piece.size(), 1u << 20)));
  std::size_t delimiter = 0;
  while (delimiter < units.size() && units[delimiter].type != delimiterType)
    ++delimiter;
  if (delimiter == units.size())
    return {{}, 0};
  PieceStart start;
  auto add = [&start](std::span<const std::uint8_t> bytes) {
    start.head.insert(start.head.end(), bytes.begin(), bytes.end());
  };
  const NalUnitSpan &opening = units[delimiter];
  add(piece.subspan(opening.offset, opening.end - opening.offset));
  for (const auto &set : setsNotCarried(piece, inForce, false))
    add(set.bytes);
  add(piece.first(opening.offset));
  start.restFrom = opening.end;
  return start;
}

namespace {

std::vector<Segment> segmentsFrom(const StreamScan &scan, const std::vector<SplitPoint> &starts) {
  std::vector<Segment> segments;
  const std::uint64_t totalUnits = scan.unitOffsets.size();
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const bool last = i + 1 == starts.size();
    const std::uint64_t endUnit = last ? totalUnits : starts[i + 1].unit;
    const std::uint64_t endOffset = last ? scan.size : starts[i + 1].offset;
    segments.push_back({starts[i].unit, endUnit - starts[i].unit, starts[i].offset, endOffset - starts[i].offset});
  }
  return segments;
}

} // namespace

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
  return segmentsFrom(scan, starts);
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
