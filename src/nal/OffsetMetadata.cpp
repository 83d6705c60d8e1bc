#include "nal/OffsetMetadata.h"

#include "core/UniqueFd.h"
#include "nal/InterleaveError.h"
#include "nal/SeiMessages.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

namespace kestrova::nal {
namespace {

constexpr std::uint8_t kSeiUnit = 6;
constexpr std::uint8_t kMvcSliceUnit = 20;
constexpr std::uint32_t kUserDataUnregistered = 5;
constexpr std::uint32_t kMvcScalableNesting = 37;
constexpr std::array<std::uint8_t, 20> kOffsetIdentifier = {0x17, 0xee, 0x8c, 0x60, 0xf8, 0x4d, 0x11, 0xd9, 0x8c, 0xd6,
                                                            0x08, 0x00, 0x20, 0x0c, 0x9a, 0x66, 'O',  'F',  'M',  'D'};
constexpr std::size_t kTableHeader = 10;

/// The position of the next 00 00 01 at or after `from`.
std::optional<std::size_t> findStartCode(std::span<const std::uint8_t> data, std::size_t from) {
  for (std::size_t at = from + 2; at < data.size();) {
    const void *one = std::memchr(data.data() + at, 1, data.size() - at);
    if (one == nullptr)
      return std::nullopt;
    const auto j = static_cast<std::size_t>(static_cast<const std::uint8_t *>(one) - data.data());
    if (data[j - 1] == 0 && data[j - 2] == 0)
      return j - 2;
    at = j + 1;
  }
  return std::nullopt;
}

DepthOffset depthOffset(std::uint8_t byte) {
  if (byte == 0x80)
    return std::nullopt;
  const int pixels = byte & 0x7f;
  return (byte & 0x80) ? -pixels : pixels; // direction 1: behind the screen
}

} // namespace

std::optional<FrameRate> offsetFrameRate(unsigned code) {
  switch (code) {
  case 1:
    return FrameRate{24000, 1001};
  case 2:
    return FrameRate{24, 1};
  case 3:
    return FrameRate{25, 1};
  case 4:
    return FrameRate{30000, 1001};
  case 6:
    return FrameRate{50, 1};
  case 7:
    return FrameRate{60000, 1001};
  default:
    return std::nullopt;
  }
}

std::optional<std::vector<DepthOffset>> OffsetMetadata::frames(std::size_t sequence) const {
  if (tables.empty())
    return std::nullopt;
  std::vector<DepthOffset> all(picturesBeforeFirstTable);
  for (const auto &table : tables) {
    if (sequence >= table.sequences.size())
      return std::nullopt;
    const auto &row = table.sequences[sequence];
    const std::size_t length = table.pictures != 0 ? table.pictures : table.frames;
    for (std::size_t frame = 0; frame < length; ++frame)
      all.push_back(frame < row.size() ? row[frame] : std::nullopt);
  }
  return all;
}

std::size_t OffsetMetadata::sequenceCount() const {
  std::size_t fewest = tables.empty() ? 0 : tables.front().sequences.size();
  for (const auto &table : tables)
    fewest = std::min(fewest, table.sequences.size());
  return fewest;
}

void OffsetMetadataReader::feed(std::span<const std::uint8_t> bytes) {
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  process(false);
}

OffsetMetadata OffsetMetadataReader::finish() {
  process(true);
  if (result_.tables.empty())
    result_.picturesBeforeFirstTable = pictures_;
  else
    result_.tables.back().pictures = pictures_;
  for (const auto &table : result_.tables)
    if (table.pictures != 0 && table.pictures != table.frames)
      result_.defects.push_back({table.position, fmt::format("the offset table covers {} frames but its GOP holds {} "
                                                             "pictures",
                                                             table.frames, table.pictures)});
  return std::move(result_);
}

void OffsetMetadataReader::process(bool atEnd) {
  std::size_t keepFrom = 0; // bytes before this are no longer needed
  for (;;) {
    const auto code = findStartCode(pending_, scan_);
    if (code || atEnd) {
      if (inUnit_) {
        std::size_t end = code.value_or(pending_.size());
        // A four-byte start code's leading zero and trailing zero bytes
        // belong to no unit.
        while (end > unitStart_ && pending_[end - 1] == 0)
          --end;
        if (unitKept_)
          completeUnit(std::span(pending_).subspan(unitStart_, end - unitStart_));
      }
      if (!code) {
        inUnit_ = false;
        keepFrom = pending_.size();
        break;
      }
      inUnit_ = unitKept_ = true;
      unitSeen_ = false;
      unitStart_ = keepFrom = scan_ = *code + 3;
      unitPosition_ = base_ + *code;
      unitType_ = unitStart_ < pending_.size() ? pending_[unitStart_] & 0x1f : 0xff;
      continue;
    }
    // No start code in what has come: the last two bytes may open one.
    scan_ = std::max(scan_, pending_.size() >= 2 ? pending_.size() - 2 : 0);
    keepFrom = scan_;
    if (inUnit_ && unitKept_) {
      const std::size_t held = pending_.size() - unitStart_;
      if (held < 5) {
        keepFrom = unitStart_; // too short yet to know what it is
      } else {
        unitType_ = pending_[unitStart_] & 0x1f;
        countPicture(std::span(pending_).subspan(unitStart_));
        if (unitType_ == kSeiUnit && held <= kLargestSei)
          keepFrom = unitStart_;
        else if (unitType_ == kSeiUnit)
          defect("an SEI unit larger than 1 MiB was skipped");
        unitKept_ = keepFrom == unitStart_;
      }
    }
    break;
  }
  keepFrom = std::min(keepFrom, scan_);
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(keepFrom));
  base_ += keepFrom;
  scan_ -= keepFrom;
  unitStart_ = unitStart_ >= keepFrom ? unitStart_ - keepFrom : 0;
}

void OffsetMetadataReader::countPicture(std::span<const std::uint8_t> unit) {
  if (unitSeen_ || unit.size() < 5)
    return;
  unitSeen_ = true;
  // After the one-byte header and the three-byte MVC extension (which ends
  // in a set bit, so no emulation prevention falls there): first_mb_in_slice
  // is 0, a lone set bit, only in a picture's first slice.
  if ((unit[0] & 0x1f) == kMvcSliceUnit && (unit[4] & 0x80) != 0)
    ++pictures_;
}

void OffsetMetadataReader::completeUnit(std::span<const std::uint8_t> unit) {
  if (unit.empty())
    return;
  countPicture(unit);
  if ((unit[0] & 0x1f) != kSeiUnit)
    return;
  if (unit.size() > kLargestSei)
    return defect("an SEI unit larger than 1 MiB was skipped");
  readSei(unit.subspan(1));
}

void OffsetMetadataReader::readSei(std::span<const std::uint8_t> escaped) {
  const std::vector<std::uint8_t> rbsp = unescapeRbsp(escaped);
  const auto messages = seiMessages(rbsp);
  if (!messages)
    return defect("an SEI unit is cut short");
  for (const auto &message : *messages) {
    if (message.type == kUserDataUnregistered) {
      readTable(message.payload);
      continue;
    }
    if (message.type != kMvcScalableNesting)
      continue;
    const auto nestedBytes = mvcNestedMessages(message.payload);
    const auto nested = nestedBytes ? seiMessages(*nestedBytes, true) : std::nullopt;
    if (!nested) {
      defect("an MVC scalable nesting SEI is cut short");
      continue;
    }
    for (const auto &inner : *nested)
      if (inner.type == kUserDataUnregistered)
        readTable(inner.payload);
  }
}

void OffsetMetadataReader::readTable(std::span<const std::uint8_t> payload) {
  if (payload.size() < kOffsetIdentifier.size() ||
      !std::equal(kOffsetIdentifier.begin(), kOffsetIdentifier.end(), payload.begin()))
    return;
  const auto body = payload.subspan(kOffsetIdentifier.size());
  if (body.size() < kTableHeader)
    return defect("an offset table is cut short in its header");
  if (!result_.tables.empty())
    result_.tables.back().pictures = pictures_;
  else
    result_.picturesBeforeFirstTable = pictures_;
  pictures_ = 0;

  OffsetTable table;
  table.position = unitPosition_;
  table.frameRateCode = body[0] & 0x0f;
  table.pts = (std::uint64_t{body[1] & 7u} << 30) | (std::uint64_t{(body[2] & 0x7fu) << 8 | body[3]} << 15) |
              std::uint64_t{(body[4] & 0x7fu) << 8 | body[5]};
  const std::size_t named = body[6] & 0x3f;
  table.frames = body[7];
  const auto values = body.subspan(kTableHeader);
  const std::size_t present = table.frames == 0 ? named : std::min(named, values.size() / table.frames);
  if (present < named)
    defect(fmt::format("the offset table names {} sequences but holds {}", named, present));
  for (std::size_t sequence = 0; sequence < present; ++sequence) {
    auto &row = table.sequences.emplace_back();
    for (std::uint8_t byte : values.subspan(sequence * table.frames, table.frames))
      row.push_back(depthOffset(byte));
  }
  result_.tables.push_back(std::move(table));
}

void OffsetMetadataReader::defect(std::string what) {
  result_.defects.push_back({unitPosition_, std::move(what)});
}

OffsetMetadata readOffsetMetadata(const std::filesystem::path &stream) {
  UniqueFd fd(::open(stream.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid())
    throw FileAccessError("open", stream.string(), errno);
  OffsetMetadataReader reader;
  std::vector<std::uint8_t> chunk(1u << 20);
  for (;;) {
    const ssize_t got = ::read(fd.get(), chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      throw FileAccessError("read", stream.string(), errno);
    if (got == 0)
      break;
    reader.feed(std::span(chunk).first(static_cast<std::size_t>(got)));
  }
  return reader.finish();
}

} // namespace kestrova::nal
