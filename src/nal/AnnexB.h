#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kestrova::nal {

/// Low-level scans over H.264 Annex B bytes (NAL units each preceded by the
/// start code 00 00 01 or 00 00 00 01). They never look at NAL payloads.
namespace annexb {

using Bytes = std::span<const std::uint8_t>;

/// The NAL unit type: the low five bits of a NAL header byte.
constexpr std::uint8_t nalType(std::uint8_t header) {
  return header & 0x1F;
}

/// The first position p >= `from` that opens a NAL unit of `type`: a start
/// code at p (00 00 01 with the header at p+3, or 00 00 00 01 with the header
/// at p+4) whose header has that type. Only positions below size - 5 are
/// considered, so that a unit opening in the last five bytes is never split
/// off; a caller that expects more data retests from max(from, size - 5) once
/// the data has grown.
std::optional<std::size_t> findNalUnit(Bytes data, std::size_t from, std::uint8_t type);

/// Where the scan for the end of an access unit starts: just after the
/// header byte of the unit's own first NAL unit, so that the unit's opening
/// is never taken for the next one.
std::size_t unitScanStart(Bytes unit);

/// The length of the opening NAL unit of `unit` when that unit has type
/// `type` (including its start code, up to the next start code or to the
/// end), otherwise 0. Units shorter than six bytes are never stripped.
std::size_t openingUnitLength(Bytes unit, std::uint8_t type);

/// Whether the start of a stream, `data`, holds a slice (type 1 or 5)
/// before any sequence parameter set (type 7): a stream cut after its
/// start, whose first pictures cannot be decoded. False when it holds
/// neither.
bool slicesBeforeSequenceSet(Bytes data);

} // namespace annexb
} // namespace kestrova::nal
