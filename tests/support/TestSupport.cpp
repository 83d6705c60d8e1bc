#include "support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace kestrova::test {
namespace fs = std::filesystem;

namespace {
fs::path fromEnv(const char *name) {
  const char *value = std::getenv(name);
  if (!value || !*value)
    throw std::runtime_error(std::string(name) + " is not set; run the tests through ctest");
  return value;
}
} // namespace

TempDir::TempDir() {
  // Scratch space lives in the build tree rather than /tmp so that a failed
  // run leaves its files where the developer looks.
  fs::path base = buildDir() / "test-scratch";
  fs::create_directories(base);
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / ("t" + std::to_string(getpid()) + "_" + std::to_string(rd()));
    if (fs::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a scratch directory under " + base.string());
}

TempDir::~TempDir() {
  std::error_code ec;
  // Restore write permission on anything a test made read-only, then remove.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

fs::path fakeToolPath() {
  return fromEnv("KESTROVA_FAKE_TOOL");
}
fs::path buildDir() {
  return fromEnv("KESTROVA_BUILD_DIR");
}
fs::path sourceDir() {
  return fromEnv("KESTROVA_SOURCE_DIR");
}

bool processAlive(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line))
    return false;
  // The state follows the parenthesised command name, which may hold blanks.
  auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

std::string readFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot read " + path.string());
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeFile(const fs::path &path, const std::string &content) {
  if (path.has_parent_path())
    fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out.write(content.data(), static_cast<std::streamsize>(content.size())))
    throw std::runtime_error("cannot write " + path.string());
}

std::string shellQuoted(const std::string &text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

} // namespace kestrova::test
