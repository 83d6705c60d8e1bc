#pragma once

#include <filesystem>
#include <string>

namespace kestrova::test {

/// A fresh directory under the build tree's scratch area, removed with
/// everything in it when the object goes out of scope.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::filesystem::path &path() const { return path_; }
  std::filesystem::path operator/(const std::string &name) const { return path_ / name; }

private:
  std::filesystem::path path_;
};

/// The scriptable fake tool built with the tests.
std::filesystem::path fakeToolPath();
/// The build tree (holds bin/kestrova and share/kestrova/tools).
std::filesystem::path buildDir();
/// The source tree.
std::filesystem::path sourceDir();

/// True while `pid` names a live process (a zombie counts as ended).
bool processAlive(int pid);

std::string readFile(const std::filesystem::path &path);
void writeFile(const std::filesystem::path &path, const std::string &content);
/// `text` as one word of a POSIX shell command line.
std::string shellQuoted(const std::string &text);

} // namespace kestrova::test
