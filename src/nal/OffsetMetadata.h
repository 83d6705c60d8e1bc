#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrova::nal {

/// One display frame's shift of a Blu-ray 3D offset sequence, in pixels of a
/// 1920-wide picture: positive in front of the screen (nearer), negative
/// behind it. No value where the disc marks the frame undefined (0x80); a
/// consumer that needs a number takes 0 there.
using DepthOffset = std::optional<int>;

/// Frames per second as a fraction.
struct FrameRate {
  int numerator = 0;
  int denominator = 1;
  friend bool operator==(const FrameRate &, const FrameRate &) = default;
};

/// The rate of an offset table's frame-rate code (the Blu-ray video codes:
/// 1 = 24000/1001, 2 = 24, 3 = 25, 4 = 30000/1001, 6 = 50, 7 = 60000/1001).
std::optional<FrameRate> offsetFrameRate(unsigned code);

/// The offset table of one GOP, as the MVC view carries it in an SEI (MVC
/// scalable nesting, then user data with the OFMD identifier).
struct OffsetTable {
  std::uint64_t position = 0; ///< stream offset of the SEI's 00 00 01 start code
  unsigned frameRateCode = 0;
  std::uint64_t pts = 0;                           ///< 90 kHz presentation time of the GOP's first frame
  std::size_t frames = 0;                          ///< display frames the table declares
  std::size_t pictures = 0;                        ///< MVC-view pictures from this table to the next one (or the end)
  std::vector<std::vector<DepthOffset>> sequences; ///< [sequence][frame], in display order
};

/// Something wrong with the offset data: where, and what, for the log.
struct OffsetDefect {
  std::uint64_t position = 0;
  std::string what;
};

/// Every offset table of a stream in stream order, which is the display
/// order of the GOPs they cover, and what was wrong.
struct OffsetMetadata {
  std::vector<OffsetTable> tables;
  std::vector<OffsetDefect> defects;
  std::size_t picturesBeforeFirstTable = 0;

  /// The shifts of sequence `sequence` for every display frame of the
  /// stream: undefined before the first table, then each table's frames over
  /// its GOP (its counted pictures, or its own length when no picture was
  /// seen); a table shorter than its GOP leaves the rest undefined. No value
  /// when there is no table or some table lacks that sequence.
  std::optional<std::vector<DepthOffset>> frames(std::size_t sequence) const;
  /// The fewest sequences any table holds (0 without tables).
  std::size_t sequenceCount() const;
};

/// Reads offset tables from Annex B bytes fed in pieces of any size, holding
/// only the NAL unit in progress (an SEI up to a bounded size; other units
/// are skipped as they pass). Pictures of the MVC view (slices of NAL unit
/// type 20 that start a picture) are counted per table to check its length.
class OffsetMetadataReader {
public:
  /// The next bytes of the stream.
  void feed(std::span<const std::uint8_t> bytes);
  /// Ends the stream and returns what it held; the reader is spent afterwards.
  OffsetMetadata finish();

  static constexpr std::size_t kLargestSei = 1u << 20;

private:
  std::vector<std::uint8_t> pending_;
  std::uint64_t base_ = 0; // stream offset of pending_[0]
  std::size_t scan_ = 0;   // where the search for the next start code resumes
  bool inUnit_ = false;    // a NAL unit has opened
  bool unitKept_ = false;  // its bytes from unitStart_ on are still held
  bool unitSeen_ = false;  // its picture count is done
  std::size_t unitStart_ = 0;
  std::uint64_t unitPosition_ = 0;
  std::uint8_t unitType_ = 0;
  OffsetMetadata result_;
  std::size_t pictures_ = 0;

  void process(bool atEnd);
  void completeUnit(std::span<const std::uint8_t> unit);
  void countPicture(std::span<const std::uint8_t> unit);
  void readSei(std::span<const std::uint8_t> escaped);
  void readTable(std::span<const std::uint8_t> body);
  void defect(std::string what);
};

/// Every offset table of the stream in file `stream` (a demuxed MVC view, or
/// both views in one Annex B stream). Throws FileAccessError when the file
/// cannot be opened or read.
OffsetMetadata readOffsetMetadata(const std::filesystem::path &stream);

} // namespace kestrova::nal
