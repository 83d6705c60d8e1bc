#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace kestrova::helpers {

/// An access unit where decoding can start afresh: the base-view unit holds
/// an IDR picture. `offset` is the first byte of its first NAL unit's start
/// code, so cutting there leaves every unit whole.
struct SplitPoint {
  std::uint64_t unit = 0;   ///< index of the (base-view) access unit, from 0
  std::uint64_t offset = 0; ///< byte offset in the stream
};

/// What a scan found: the split points in stream order (the first is always
/// unit 0, so a stream that opens with an IDR unit has one there), the start
/// offset of every access unit, and the stream's size.
struct StreamScan {
  std::vector<SplitPoint> points;
  std::vector<std::uint64_t> unitOffsets;
  std::uint64_t size = 0;
};

/// Scans a two-view stream as the interleaver writes it: base and MVC access
/// units alternating, without delimiters. A base unit starts at the first NAL
/// unit that follows an MVC slice (type 20), or at a type-9 delimiter.
StreamScan scanInterleaved(std::span<const std::uint8_t> stream);

/// Scans one view's elementary stream whose access units open with
/// delimiters of `delimiterType` (9 for the base view, 24 for the MVC view).
/// Split points are the units holding an IDR slice (type 5).
StreamScan scanDelimited(std::span<const std::uint8_t> stream, std::uint8_t delimiterType);

/// One piece of a split stream.
struct Segment {
  std::uint64_t firstUnit = 0;
  std::uint64_t units = 0;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

/// Cuts the stream into at most `count` segments of about equal size, each
/// starting at a split point (the first at byte 0, so that nothing before
/// the first unit is lost). Fewer split points than `count` give fewer
/// segments; an empty stream gives none.
std::vector<Segment> chooseSegments(const StreamScan &scan, std::size_t count);

/// A file mapped read-only for the life of the object.
class MappedFile {
public:
  /// Throws std::system_error when the file cannot be opened or mapped.
  explicit MappedFile(const std::filesystem::path &path);
  ~MappedFile();
  MappedFile(const MappedFile &) = delete;
  MappedFile &operator=(const MappedFile &) = delete;
  std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

private:
  const std::uint8_t *data_ = nullptr;
  std::size_t size_ = 0;
};

} // namespace kestrova::helpers
