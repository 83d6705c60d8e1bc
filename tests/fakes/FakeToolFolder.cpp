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

nlohmann::json twoViewProbeScript(int pictures) {
  using nlohmann::json;
  const json streams = {{"streams",
                         {{{"index", 0}, {"codec_type", "video"}, {"codec_name", "h264"}},
                          {{"index", 1}, {"codec_type", "video"}, {"codec_name", "h264"}}}}};
  // The count is the one run with ten arguments (…-count_packets … FILE).
  return {
      {"steps",
       {{{"when_args", 10}, {"stdout", std::to_string(pictures) + "\n"}, {"exit", 0}}, {{"stdout", streams.dump()}}}}};
}

} // namespace kestrova::test
