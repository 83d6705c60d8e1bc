#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace kestrova::test {

/// One recorded run of a fake tool.
struct FakeCall {
  std::vector<std::string> args;
  std::string cwd;
  int pid = 0;
  nlohmann::json env;
};

/// A folder of fake tools: each added name is a symbolic link to the
/// scriptable fake with its script beside it.
class FakeToolFolder {
public:
  explicit FakeToolFolder(std::filesystem::path directory);

  /// Adds `name` with `script` ({"steps": [...]}, see FakeTool.cpp) and
  /// returns its path. Adding a name again replaces its script.
  std::filesystem::path add(const std::string &name, const nlohmann::json &script = nlohmann::json::object());
  /// Links `name` to a real program (for example /usr/bin/ffmpeg).
  std::filesystem::path addReal(const std::string &name, const std::filesystem::path &program);
  /// Every recorded run of `name`, oldest first.
  std::vector<FakeCall> calls(const std::string &name) const;

  const std::filesystem::path &path() const { return directory_; }
  std::filesystem::path operator/(const std::string &name) const { return directory_ / name; }

private:
  std::filesystem::path directory_;
};

/// An ffprobe double for a Blu-ray stream: it lists a base view and an MVC
/// view, and counts `pictures` in any finished file it is asked to count.
nlohmann::json twoViewProbeScript(int pictures);

} // namespace kestrova::test
