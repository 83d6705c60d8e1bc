#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kestrova::mvhevc {

/// NAL unit types this program creates or looks at.
enum class NalType : std::uint8_t {
  trailN = 0,
  idrWRadl = 19,
  idrNLp = 20,
  craNut = 21,
  vps = 32,
  sps = 33,
  pps = 34,
  aud = 35,
  prefixSei = 39,
  suffixSei = 40,
};

/// One NAL unit without start code: two header bytes, then the escaped payload.
using NalBytes = std::vector<std::uint8_t>;

/// The nal_unit_type of a NAL unit (at least two bytes).
std::uint8_t nalTypeOf(std::span<const std::uint8_t> nal);
/// The nuh_layer_id of a NAL unit.
std::uint8_t layerIdOf(std::span<const std::uint8_t> nal);
/// True for the coded slice segment types of a picture (0..31).
bool isSlice(std::uint8_t type);
/// True for IDR pictures, whose slices carry no picture order count.
bool isIdr(std::uint8_t type);
/// True for random-access pictures (16..23).
bool isIrap(std::uint8_t type);
/// True for pictures that no later picture of the same sub-layer references.
bool isNonReference(std::uint8_t type);

/// The unescaped payload (RBSP) of a NAL unit, header bytes removed.
std::vector<std::uint8_t> rbspOf(std::span<const std::uint8_t> nal);

/// Builds a NAL unit from its header fields and RBSP, adding emulation prevention.
NalBytes makeNal(std::uint8_t type, std::uint8_t layerId, std::uint8_t temporalIdPlus1,
                 std::span<const std::uint8_t> rbsp);

/// Splits an Annex B byte stream (start codes 00 00 01 / 00 00 00 01) into NAL units.
std::vector<NalBytes> splitAnnexB(std::span<const std::uint8_t> stream);

} // namespace kestrova::mvhevc
