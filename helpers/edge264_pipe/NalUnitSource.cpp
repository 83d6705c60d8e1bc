#include "NalUnitSource.h"

#include "nal/AnnexB.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <unistd.h>

namespace kestrova::helpers {
namespace {

constexpr std::uint8_t kBaseDelimiter = 9, kMvcDelimiter = 24, kPrefix = 14;
constexpr std::size_t kChunk = 1u << 20;

bool isBaseSlice(std::uint8_t type) {
  return type == 1 || type == 5;
}

} // namespace

std::size_t findStartCode(std::span<const std::uint8_t> bytes, std::size_t from) {
  const std::size_t size = bytes.size();
  for (std::size_t i = from; i + 2 < size;) {
    // Look at every third byte: a start code has its 01 at i+2 and zeros before.
    const std::uint8_t c = bytes[i + 2];
    if (c > 1) {
      i += 3;
    } else if (c == 0) {
      ++i;
    } else if (bytes[i] == 0 && bytes[i + 1] == 0) {
      return i;
    } else {
      i += 3;
    }
  }
  return size;
}

AnnexBSource::AnnexBSource(UniqueFd fd, std::string name, std::size_t capacity)
    : fd_(std::move(fd)), name_(std::move(name)), capacity_(std::max<std::size_t>(capacity, 64)) {
  buffer_.reserve(std::min(capacity_, 2 * kChunk));
}

bool AnnexBSource::refill() {
  if (eof_)
    return false;
  if (start_ > 0 && (buffer_.size() + kChunk > buffer_.capacity())) {
    // Drop what was handed out before growing, so a long stream never needs
    // more room than its largest unit.
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    scan_ -= start_;
    start_ = 0;
  }
  const std::size_t room = std::min(kChunk, capacity_ - std::min(capacity_, buffer_.size()));
  if (room == 0)
    throw SourceError(name_ + ": a NAL unit is larger than " + std::to_string(capacity_ >> 20) + " MiB");
  const std::size_t old = buffer_.size();
  buffer_.resize(old + room);
  ssize_t got;
  do
    got = ::read(fd_.get(), buffer_.data() + old, room);
  while (got < 0 && errno == EINTR);
  if (got < 0) {
    const int error = errno;
    buffer_.resize(old);
    throw SourceError(name_ + ": " + std::system_category().message(error));
  }
  buffer_.resize(old + static_cast<std::size_t>(got));
  eof_ = got == 0;
  return !eof_;
}

std::optional<NalUnit> AnnexBSource::next() {
  if (!started_) {
    // Skip to the first start code.
    started_ = true;
    for (;;) {
      const std::size_t first = findStartCode(buffer_, 0);
      if (first < buffer_.size()) {
        start_ = scan_ = first + 3;
        break;
      }
      if (!refill()) {
        start_ = scan_ = buffer_.size();
        return std::nullopt;
      }
    }
  }
  for (;;) {
    const std::size_t end = findStartCode(buffer_, scan_);
    if (end < buffer_.size() || eof_) {
      const NalUnit unit(buffer_.data() + start_, end - start_);
      start_ = scan_ = std::min(end + 3, buffer_.size());
      if (unit.empty()) {
        if (eof_ && end >= buffer_.size())
          return std::nullopt;
        continue;
      }
      return unit;
    }
    // The last two bytes may begin a start code; look at them again.
    scan_ = std::max(start_, buffer_.size() >= 2 ? buffer_.size() - 2 : 0);
    refill();
  }
}

ViewFilesSource::ViewFilesSource(const std::filesystem::path &base, const std::filesystem::path &mvc)
    : readers_{nal::StreamReader(base, kBaseDelimiter), nal::StreamReader(mvc, kMvcDelimiter)} {}

void ViewFilesSource::queueBase(std::span<const std::uint8_t> payload) {
  std::vector<NalUnit> units;
  forEachNalUnit(payload, [&](NalUnit unit) { units.push_back(unit); });
  std::size_t afterLastSlice = 0;
  for (std::size_t i = 0; i < units.size(); ++i)
    if (isBaseSlice(nal::annexb::nalType(units[i][0])))
      afterLastSlice = i + 1;
  std::size_t kept = units.size();
  while (kept > afterLastSlice && nal::annexb::nalType(units[kept - 1][0]) == kPrefix)
    --kept;
  // Prefix units carried from the previous base unit open this one.
  carriedOut_.swap(carried_);
  carried_.clear();
  forEachNalUnit(carriedOut_, [&](NalUnit unit) { queue_.push_back(unit); });
  queue_.insert(queue_.end(), units.begin(), units.begin() + static_cast<std::ptrdiff_t>(kept));
  for (std::size_t i = kept; i < units.size(); ++i) {
    const std::uint8_t startCode[] = {0, 0, 1};
    carried_.insert(carried_.end(), startCode, startCode + 3);
    carried_.insert(carried_.end(), units[i].begin(), units[i].end());
  }
}

bool ViewFilesSource::loadPair() {
  queue_.clear();
  queueHead_ = 0;
  std::optional<nal::AccessUnit> units[2];
  for (int view = 0; view < 2; ++view)
    if (!ended_[view] && !(units[view] = readers_[view].readAccessUnit()))
      ended_[view] = true;
  if (units[0])
    queueBase(units[0]->payload);
  if (units[1])
    forEachNalUnit(units[1]->payload, [&](NalUnit unit) { queue_.push_back(unit); });
  return units[0] || units[1];
}

std::optional<NalUnit> ViewFilesSource::next() {
  while (queueHead_ >= queue_.size())
    if (!loadPair())
      return std::nullopt;
  return queue_[queueHead_++];
}

} // namespace kestrova::helpers
