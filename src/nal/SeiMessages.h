#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrova::nal {

/// The RBSP of a NAL unit's bytes: every emulation-prevention byte (the 03 of
/// 00 00 03) removed.
std::vector<std::uint8_t> unescapeRbsp(std::span<const std::uint8_t> escaped);

/// One SEI message: its payload type and payload bytes (views into the RBSP).
struct SeiMessage {
  std::uint32_t type = 0;
  std::span<const std::uint8_t> payload;
};

/// The messages of an SEI RBSP (the bytes after the NAL header), up to its
/// trailing bits. With `nested` the bytes are the messages inside a nesting
/// SEI, which end with the payload instead. No value when a message's type,
/// size or payload runs past the end.
std::optional<std::vector<SeiMessage>> seiMessages(std::span<const std::uint8_t> rbsp, bool nested = false);

/// The SEI messages held by an MVC scalable nesting payload (type 37): the
/// payload after its operation-point or view-list header and the zero bits
/// that align it. No value when the header runs past the payload.
std::optional<std::span<const std::uint8_t>> mvcNestedMessages(std::span<const std::uint8_t> payload);

} // namespace kestrova::nal
