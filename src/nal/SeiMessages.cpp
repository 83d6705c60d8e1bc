#include "nal/SeiMessages.h"

namespace kestrova::nal {
namespace {

/// Reads bits most significant first; past the end it reads as exhausted.
class BitReader {
public:
  explicit BitReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::optional<std::uint32_t> bits(int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
      if (position_ >= bytes_.size() * 8)
        return std::nullopt;
      value = (value << 1) | ((bytes_[position_ / 8] >> (7 - position_ % 8)) & 1u);
      ++position_;
    }
    return value;
  }

  /// An Exp-Golomb ue(v) value; no value past the end or beyond 31 bits.
  std::optional<std::uint32_t> unsignedGolomb() {
    int zeros = 0;
    for (;;) {
      auto bit = bits(1);
      if (!bit || zeros > 31)
        return std::nullopt;
      if (*bit == 1)
        break;
      ++zeros;
    }
    auto rest = bits(zeros);
    if (!rest)
      return std::nullopt;
    return static_cast<std::uint32_t>((std::uint64_t{1} << zeros) - 1 + *rest);
  }

  std::size_t alignedByte() const { return (position_ + 7) / 8; }

private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

/// A type or size: a run of FF bytes each adding 255, then the last byte.
std::optional<std::uint32_t> codedNumber(std::span<const std::uint8_t> bytes, std::size_t &at) {
  std::uint32_t value = 0;
  while (at < bytes.size() && bytes[at] == 0xFF && value < (1u << 24)) {
    value += 255;
    ++at;
  }
  if (at >= bytes.size())
    return std::nullopt;
  return value + bytes[at++];
}

} // namespace

std::vector<std::uint8_t> unescapeRbsp(std::span<const std::uint8_t> escaped) {
  std::vector<std::uint8_t> rbsp;
  rbsp.reserve(escaped.size());
  int zeros = 0;
  for (std::uint8_t byte : escaped) {
    if (zeros >= 2 && byte == 3) {
      zeros = 0;
      continue;
    }
    rbsp.push_back(byte);
    zeros = byte == 0 ? zeros + 1 : 0;
  }
  return rbsp;
}

std::optional<std::vector<SeiMessage>> seiMessages(std::span<const std::uint8_t> rbsp, bool nested) {
  std::vector<SeiMessage> messages;
  std::size_t at = 0;
  // An SEI RBSP ends with the stop bit's byte (0x80); nested messages fill
  // their payload to the end.
  auto more = [&] {
    return nested ? at < rbsp.size() : at < rbsp.size() && !(at + 1 == rbsp.size() && rbsp[at] == 0x80);
  };
  while (more()) {
    auto type = codedNumber(rbsp, at);
    auto size = type ? codedNumber(rbsp, at) : std::nullopt;
    if (!size || *size > rbsp.size() - at)
      return std::nullopt;
    messages.push_back({*type, rbsp.subspan(at, *size)});
    at += *size;
  }
  return messages;
}

std::optional<std::span<const std::uint8_t>> mvcNestedMessages(std::span<const std::uint8_t> payload) {
  BitReader reader(payload);
  auto viewIds = [&reader]() -> bool {
    auto count = reader.unsignedGolomb();
    if (!count || *count > 1023)
      return false;
    for (std::uint32_t i = 0; i <= *count; ++i)
      if (!reader.bits(10))
        return false;
    return true;
  };
  auto operationPoint = reader.bits(1);
  if (!operationPoint)
    return std::nullopt;
  if (*operationPoint == 1) {
    if (!viewIds() || !reader.bits(3)) // the view ids, then sei_op_temporal_id
      return std::nullopt;
  } else {
    auto allViews = reader.bits(1);
    if (!allViews || (*allViews == 0 && !viewIds()))
      return std::nullopt;
  }
  const std::size_t start = reader.alignedByte();
  if (start > payload.size())
    return std::nullopt;
  return payload.subspan(start);
}

} // namespace kestrova::nal
