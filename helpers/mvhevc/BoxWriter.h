#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace kestrova::mvhevc {

/// Builds QuickTime/ISO boxes in memory: big-endian fields, nested boxes sized when closed.
class BoxWriter {
public:
  /// Opens a box of the four-character `type`; its size is filled in by close().
  void open(std::string_view type);
  /// Opens a full box: type, then version and 24-bit flags.
  void openFull(std::string_view type, std::uint8_t version, std::uint32_t flags);
  /// Closes the innermost open box.
  void close();

  void u8(std::uint32_t value);
  void u16(std::uint32_t value);
  void u24(std::uint32_t value);
  void u32(std::uint32_t value);
  void u64(std::uint64_t value);
  void fourcc(std::string_view type);
  void zeros(std::size_t count);
  void bytes(std::span<const std::uint8_t> data);
  /// The unity transformation matrix of movie and track headers.
  void unityMatrix();

  /// The boxes written; every opened box must have been closed.
  const std::vector<std::uint8_t> &data() const { return data_; }

private:
  std::vector<std::uint8_t> data_;
  std::vector<std::size_t> open_;
};

} // namespace kestrova::mvhevc
