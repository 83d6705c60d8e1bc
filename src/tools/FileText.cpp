#include "tools/FileText.h"

#include <fstream>
#include <iterator>

namespace kestrova::tools {

std::string readWholeFile(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace kestrova::tools
