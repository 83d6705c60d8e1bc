#include "app/Uuid.h"

#include <array>
#include <cstdint>
#include <fmt/format.h>
#include <random>

namespace kestrova::app {

std::string newUuidText() {
  std::random_device device;
  std::array<std::uint8_t, 16> bytes{};
  for (auto &byte : bytes)
    byte = static_cast<std::uint8_t>(device() & 0xFF);
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
  std::string hex;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10)
      hex += '-';
    hex += fmt::format("{:02X}", bytes[i]);
  }
  return hex;
}

} // namespace kestrova::app
