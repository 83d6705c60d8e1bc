#include "Streams.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kestrova::nal::test {

void writeBytes(const std::filesystem::path &path, const ByteVector &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(content.data()), static_cast<std::streamsize>(content.size()));
  if (!out)
    throw std::runtime_error("cannot write " + path.string());
}

ByteVector readBytes(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot read " + path.string());
  return ByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace kestrova::nal::test
