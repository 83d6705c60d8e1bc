// A scriptable stand-in for any external tool (tsmuxer, ldecod, ffprobe,
// MVHEVCConverter, pkill, which, ...). Tests place it in a folder under the
// tool's name; it reads NAME.fake.json beside its invoked path, appends one
// JSON line describing the call to NAME.calls.jsonl, then runs the script.
//
// Script: {"steps": [ ... ]}, each step one of
//   {"stdout": "text"}             {"stderr": "text"}
//   {"sleep_ms": N}                {"ignore_sigterm": true}
//   {"write_file": "path", "content": "text"}
//   {"copy_stdin_to": "path"}      {"exit": N}
//   {"copy_file": "path", "to": "path"}
// A step with "when_args": N runs only when the tool has N arguments (so one
// script serves a tool's listing run and its real run); with "when_arg1":
// "text" only when its first argument is that text.
// Strings may use {argN} (the N-th argument, 1-based), {cwd} and {self}.
// Relative paths are taken from the working directory. Without a script the
// tool exits 0 silently.
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

std::string expand(std::string text, const std::vector<std::string> &args, const std::string &cwd,
                   const std::string &self) {
  auto replaceAll = [&text](const std::string &from, const std::string &to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
      text.replace(at, from.size(), to);
  };
  for (std::size_t i = args.size(); i >= 1; --i)
    replaceAll("{arg" + std::to_string(i) + "}", args[i - 1]);
  replaceAll("{cwd}", cwd);
  replaceAll("{self}", self);
  return text;
}

void writeAll(int fd, const std::string &text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0)
      return;
    done += static_cast<std::size_t>(n);
  }
}

void recordCall(const std::string &self, const std::vector<std::string> &args, const std::string &cwd) {
  nlohmann::json call;
  call["args"] = args;
  call["cwd"] = cwd;
  call["pid"] = ::getpid();
  nlohmann::json env = nlohmann::json::object();
  for (char **entry = environ; *entry; ++entry) {
    std::string pair(*entry);
    auto eq = pair.find('=');
    if (eq != std::string::npos)
      env[pair.substr(0, eq)] = pair.substr(eq + 1);
  }
  call["env"] = env;
  std::string line = call.dump() + "\n";
  // Several copies may run at once (pkill runs, parallel workers): append
  // whole lines under an exclusive lock.
  FILE *file = std::fopen((self + ".calls.jsonl").c_str(), "a");
  if (!file)
    return;
  ::flock(::fileno(file), LOCK_EX);
  std::fwrite(line.data(), 1, line.size(), file);
  std::fflush(file);
  ::flock(::fileno(file), LOCK_UN);
  std::fclose(file);
}

} // namespace

int main(int argc, char **argv) {
  std::string self = argv[0];
  std::vector<std::string> args(argv + 1, argv + argc);
  char cwdBuffer[4096];
  std::string cwd = ::getcwd(cwdBuffer, sizeof cwdBuffer) ? cwdBuffer : ".";
  recordCall(self, args, cwd);

  std::ifstream scriptFile(self + ".fake.json");
  if (!scriptFile)
    return 0;
  nlohmann::json script = nlohmann::json::parse(scriptFile, nullptr, false);
  if (!script.is_object()) {
    std::cerr << "fake tool: unreadable script " << self << ".fake.json\n";
    return 99;
  }
  auto text = [&](const nlohmann::json &value) { return expand(value.get<std::string>(), args, cwd, self); };
  for (const auto &step : script.value("steps", nlohmann::json::array())) {
    if (step.contains("when_arg1") && (args.empty() || args[0] != step["when_arg1"].get<std::string>()))
      continue;
    if (step.contains("when_args") && args.size() != step["when_args"].get<std::size_t>())
      continue;
    if (step.contains("stdout"))
      writeAll(STDOUT_FILENO, text(step["stdout"]));
    if (step.contains("stderr"))
      writeAll(STDERR_FILENO, text(step["stderr"]));
    if (step.contains("sleep_ms"))
      std::this_thread::sleep_for(std::chrono::milliseconds(step["sleep_ms"].get<int>()));
    if (step.value("ignore_sigterm", false))
      std::signal(SIGTERM, SIG_IGN);
    if (step.contains("write_file")) {
      std::ofstream(text(step["write_file"]), std::ios::binary | std::ios::trunc) << text(step.value("content", ""));
    }
    if (step.contains("copy_file"))
      std::filesystem::copy_file(text(step["copy_file"]), text(step["to"]),
                                 std::filesystem::copy_options::overwrite_existing);
    if (step.contains("copy_stdin_to")) {
      std::ofstream out(text(step["copy_stdin_to"]), std::ios::binary | std::ios::trunc);
      out << std::cin.rdbuf();
    }
    if (step.contains("exit"))
      return step["exit"].get<int>();
  }
  return 0;
}
