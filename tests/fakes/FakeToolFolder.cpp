#include "fakes/FakeToolFolder.h"

#include "support/TestSupport.h"

#include <fstream>
#include <sstream>

namespace kestrova::test {
namespace fs = std::filesystem;

FakeToolFolder::FakeToolFolder(fs::path directory) : directory_(std::move(directory)) {
  fs::create_directories(directory_);
}

fs::path FakeToolFolder::add(const std::string &name, const nlohmann::json &script) {
  fs::path tool = directory_ / name;
  if (!fs::is_symlink(tool))
    fs::create_symlink(fakeToolPath(), tool);
  writeFile(directory_ / (name + ".fake.json"), script.dump());
  return tool;
}

fs::path FakeToolFolder::addReal(const std::string &name, const fs::path &program) {
  fs::path tool = directory_ / name;
  fs::remove(tool);
  fs::create_symlink(program, tool);
  return tool;
}

std::vector<FakeCall> FakeToolFolder::calls(const std::string &name) const {
  std::vector<FakeCall> calls;
  std::ifstream in(directory_ / (name + ".calls.jsonl"));
  for (std::string line; std::getline(in, line);) {
    auto json = nlohmann::json::parse(line);
    calls.push_back({json["args"].get<std::vector<std::string>>(), json["cwd"].get<std::string>(),
                     json["pid"].get<int>(), json["env"]});
  }
  return calls;
}

} // namespace kestrova::test
