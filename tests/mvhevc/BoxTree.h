#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kestrova::mvhevc::test {

/// One box of a QuickTime/ISO file: its path from the top ("moov/trak/mdia") and its payload.
struct Box {
  std::string path;
  std::vector<std::uint8_t> payload;
};

/// Every box of the file in file order, descending into containers and sample entries.
std::vector<Box> readBoxTree(const std::filesystem::path &file);

/// The first box at `path`, or null.
const Box *findBox(const std::vector<Box> &boxes, const std::string &path);

/// Big-endian integer of `size` bytes at `offset` of `payload`.
std::uint64_t readBig(const std::vector<std::uint8_t> &payload, std::size_t offset, std::size_t size);

} // namespace kestrova::mvhevc::test
