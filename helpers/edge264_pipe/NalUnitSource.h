#pragma once

#include "core/UniqueFd.h"
#include "nal/StreamReader.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrova::helpers {

using NalUnit = std::span<const std::uint8_t>;

/// A stream that cannot be read as H.264 Annex B: a read the system refused,
/// or a NAL unit larger than the reader holds. `what()` is for the user.
class SourceError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// The NAL units of a two-view stream in decoding order, each from its header
/// byte on, without its start code. A unit stays valid until the next call.
class NalUnitSource {
public:
  virtual ~NalUnitSource() = default;
  /// The next unit, or no value at the end. Throws SourceError.
  virtual std::optional<NalUnit> next() = 0;
};

/// Calls `onUnit` for every NAL unit of `bytes` (Annex B), in order. Bytes
/// before the first start code are skipped; zero bytes of the next start
/// code stay at a unit's end, which decoders read as trailing padding.
template <typename OnUnit> void forEachNalUnit(std::span<const std::uint8_t> bytes, OnUnit &&onUnit);

/// Where the next three-byte start code 00 00 01 begins at or after `from`,
/// or `bytes.size()` when there is none.
std::size_t findStartCode(std::span<const std::uint8_t> bytes, std::size_t from);

template <typename OnUnit> void forEachNalUnit(std::span<const std::uint8_t> bytes, OnUnit &&onUnit) {
  std::size_t start = findStartCode(bytes, 0);
  while (start < bytes.size()) {
    const std::size_t header = start + 3;
    const std::size_t next = findStartCode(bytes, header);
    if (next > header)
      onUnit(bytes.subspan(header, next - header));
    start = next;
  }
}

/// One interleaved stream (base and MVC access units alternating, as the JM
/// decoder reads it) from a file, a pipe or a FIFO, read in chunks into a
/// buffer that holds at most `capacity` bytes: a NAL unit must fit in it.
class AnnexBSource : public NalUnitSource {
public:
  static constexpr std::size_t kDefaultCapacity = 64u << 20;
  /// Takes over `fd`; `name` stands for it in messages.
  AnnexBSource(UniqueFd fd, std::string name, std::size_t capacity = kDefaultCapacity);
  std::optional<NalUnit> next() override;

private:
  UniqueFd fd_;
  std::string name_;
  std::size_t capacity_;
  std::vector<std::uint8_t> buffer_;
  std::size_t start_ = 0; // first byte not handed out
  std::size_t scan_ = 0;  // where the search for the unit's end resumes
  bool eof_ = false;
  bool started_ = false;

  bool refill();
};

/// The two demuxed view files (base access units opened by type-9
/// delimiters, MVC ones by type 24) merged access unit by access unit: base
/// unit n, then MVC unit n. A prefix NAL unit (type 14) found after the last
/// slice of a base unit belongs to the next base unit (a demuxer may write it
/// before that unit's delimiter) and is handed out with it. A view with
/// units left over when the other ends contributes them alone.
class ViewFilesSource : public NalUnitSource {
public:
  /// Throws what nal::StreamReader throws when a file cannot be opened.
  ViewFilesSource(const std::filesystem::path &base, const std::filesystem::path &mvc);
  std::optional<NalUnit> next() override;

private:
  nal::StreamReader readers_[2];
  std::vector<NalUnit> queue_;
  std::size_t queueHead_ = 0;
  std::vector<std::uint8_t> carried_; // prefix units waiting for the next base unit
  std::vector<std::uint8_t> carriedOut_;
  bool ended_[2] = {false, false};

  /// Reads the next pair of units into the queue; false at the end of both.
  bool loadPair();
  void queueBase(std::span<const std::uint8_t> payload);
};

} // namespace kestrova::helpers
