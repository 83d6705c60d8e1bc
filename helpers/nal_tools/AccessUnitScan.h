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
/// Split points are the units holding an IDR slice (type 5). A unit starts
/// with the units that a demuxer wrote ahead of its delimiter (a prefix
/// unit, parameter sets: see nal/UnitOrder.h), so that a cut keeps them
/// with the picture they belong to.
StreamScan scanDelimited(std::span<const std::uint8_t> stream, std::uint8_t delimiterType);

/// Where a NAL unit lies in a stream: its start code (the extra zero of a
/// four-byte code included), its header byte, and one past its last byte.
struct NalUnitSpan {
  std::size_t offset = 0, end = 0, header = 0;
  std::uint8_t type = 0;
};

/// Every NAL unit of `stream`, in order.
std::vector<NalUnitSpan> nalUnits(std::span<const std::uint8_t> stream);

/// A parameter set as it stands in the stream, start code included.
struct ParameterSet {
  std::uint8_t type = 0; ///< 7 sequence, 15 subset sequence, 8 picture
  std::uint32_t id = 0;
  std::span<const std::uint8_t> bytes;
};

/// The parameter sets in force at each of `offsets` (ascending): of every
/// type and id the last one that starts before the offset. Sequence sets
/// come before picture sets, which need them to be read.
std::vector<std::vector<ParameterSet>> parameterSetsAt(std::span<const std::uint8_t> stream,
                                                       const std::vector<std::uint64_t> &offsets);

/// The sets of `inForce` that the access unit at the start of `start` does
/// not carry itself in time: before its first slice (with `twoViews`, an
/// interleaved stream's pair of units: picture and sequence sets before the
/// base slice, subset sequence sets before the MVC slice). Sequence sets
/// come along when a picture set is missing. Only these go in front of a
/// segment: the JM decoder crashes on some repeats (a subset sequence set
/// between a sequence set and its repeat).
std::vector<ParameterSet> setsNotCarried(std::span<const std::uint8_t> start, const std::vector<ParameterSet> &inForce,
                                         bool twoViews);

/// How a piece that starts at an access unit becomes decodable on its own.
struct PieceStart {
  std::vector<std::uint8_t> head; ///< written first
  std::uint64_t restFrom = 0;     ///< then the piece's bytes from here on
};

/// For a piece whose bytes `piece` start at an access unit as scanDelimited
/// found it: the unit's delimiter first (a delimiter-based reader drops what
/// comes before it), then every set of `inForce` that the unit does not
/// carry itself, then the units that stood before the delimiter, then the
/// rest of the piece. A piece without a delimiter is left as it is.
PieceStart selfContainedStart(std::span<const std::uint8_t> piece, std::uint8_t delimiterType,
                              const std::vector<ParameterSet> &inForce);

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
