#include "BoxWriter.h"

#include <stdexcept>

namespace kestrova::mvhevc {

void BoxWriter::open(std::string_view type) {
  open_.push_back(data_.size());
  u32(0);
  fourcc(type);
}

void BoxWriter::openFull(std::string_view type, std::uint8_t version, std::uint32_t flags) {
  open(type);
  u8(version);
  u24(flags);
}

void BoxWriter::close() {
  if (open_.empty()) {
    throw std::logic_error("closing a box that was never opened");
  }
  const auto start = open_.back();
  open_.pop_back();
  const auto size = static_cast<std::uint32_t>(data_.size() - start);
  for (int i = 0; i < 4; ++i) {
    data_[start + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
  }
}

void BoxWriter::u8(std::uint32_t value) {
  data_.push_back(static_cast<std::uint8_t>(value));
}

void BoxWriter::u16(std::uint32_t value) {
  u8(value >> 8);
  u8(value);
}

void BoxWriter::u24(std::uint32_t value) {
  u8(value >> 16);
  u16(value);
}

void BoxWriter::u32(std::uint32_t value) {
  u16(value >> 16);
  u16(value);
}

void BoxWriter::u64(std::uint64_t value) {
  u32(static_cast<std::uint32_t>(value >> 32));
  u32(static_cast<std::uint32_t>(value));
}

void BoxWriter::fourcc(std::string_view type) {
  if (type.size() != 4) {
    throw std::logic_error("box types have four characters");
  }
  for (const char c : type) {
    u8(static_cast<std::uint8_t>(c));
  }
}

void BoxWriter::zeros(std::size_t count) {
  data_.insert(data_.end(), count, 0);
}

void BoxWriter::bytes(std::span<const std::uint8_t> data) {
  data_.insert(data_.end(), data.begin(), data.end());
}

void BoxWriter::unityMatrix() {
  for (const std::uint32_t value : {0x00010000U, 0U, 0U, 0U, 0x00010000U, 0U, 0U, 0U, 0x40000000U}) {
    u32(value);
  }
}

} // namespace kestrova::mvhevc
