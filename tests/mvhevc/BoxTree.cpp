#include "BoxTree.h"

#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>

namespace kestrova::mvhevc::test {
namespace {

const std::set<std::string> kContainers = {"moov", "trak", "mdia", "minf", "stbl", "edts",
                                           "dinf", "udta", "vexu", "eyes", "cams", "cmfy"};

void walk(const std::vector<std::uint8_t> &data, std::size_t begin, std::size_t end, const std::string &parent,
          std::vector<Box> &out) {
  std::size_t at = begin;
  while (at + 8 <= end) {
    std::uint64_t size = readBig(data, at, 4);
    std::size_t header = 8;
    const std::string type(data.begin() + static_cast<std::ptrdiff_t>(at + 4),
                           data.begin() + static_cast<std::ptrdiff_t>(at + 8));
    if (size == 1) {
      size = readBig(data, at + 8, 8);
      header = 16;
    } else if (size == 0) {
      size = end - at;
    }
    if (size < header || at + size > end) {
      throw std::runtime_error("box " + type + " overruns its parent");
    }
    const auto path = parent.empty() ? type : parent + "/" + type;
    out.push_back({path, std::vector<std::uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(at + header),
                                                   data.begin() + static_cast<std::ptrdiff_t>(at + size))});
    if (kContainers.count(type) != 0) {
      walk(data, at + header, at + size, path, out);
    } else if (type == "stsd") {
      walk(data, at + header + 8, at + size, path, out);
    } else if (type == "hvc1") {
      walk(data, at + header + 78, at + size, path, out);
    } else if (type == "mp4a") {
      // QuickTime sound descriptions of version 1 and 2 are 16 and 36 bytes longer.
      const auto version = readBig(data, at + header + 8, 2);
      walk(data, at + header + 28 + (version == 1 ? 16 : version == 2 ? 36 : 0), at + size, path, out);
    }
    at += size;
  }
}

} // namespace

std::uint64_t readBig(const std::vector<std::uint8_t> &payload, std::size_t offset, std::size_t size) {
  if (offset + size > payload.size()) {
    throw std::runtime_error("read past the end of a box");
  }
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) {
    value = (value << 8) | payload[offset + i];
  }
  return value;
}

std::vector<Box> readBoxTree(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Box> boxes;
  walk(data, 0, data.size(), "", boxes);
  return boxes;
}

const Box *findBox(const std::vector<Box> &boxes, const std::string &path) {
  for (const auto &box : boxes) {
    if (box.path == path) {
      return &box;
    }
  }
  return nullptr;
}

} // namespace kestrova::mvhevc::test
