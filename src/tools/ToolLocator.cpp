#include "tools/ToolLocator.h"

#include "core/Utf8.h"
#include "tools/Process.h"

#include <sys/stat.h>
#include <unistd.h>

namespace kestrova::tools {

namespace {

// Any kind of entry counts, as long as it resolves (a dangling link does not).
bool entryExists(const std::string &path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

std::string trimmed(const std::string &text) {
  const char *space = " \t\n\r\v\f";
  auto first = text.find_first_not_of(space);
  if (first == std::string::npos)
    return {};
  auto last = text.find_last_not_of(space);
  return text.substr(first, last - first + 1);
}

std::string directoryOfRunningExecutable() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0)
    return {};
  std::string path(buffer, static_cast<std::size_t>(n));
  auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace

BundlePaths BundlePaths::forRunningExecutable() {
  std::string executableDir = directoryOfRunningExecutable();
  if (executableDir.empty())
    return {"", "..", ""};
  BundlePaths paths;
  paths.executableDir = executableDir;
  paths.bundlePath = executableDir + "/..";
  paths.resourcePath = paths.bundlePath + "/share/kestrova";
  return paths;
}

BundlePaths BundlePaths::forPrefix(const std::string &prefix) {
  BundlePaths paths;
  paths.executableDir = prefix + "/bin";
  paths.bundlePath = paths.executableDir + "/..";
  paths.resourcePath = paths.bundlePath + "/share/kestrova";
  return paths;
}

ToolLocator::ToolLocator(BundlePaths paths, SystemPrograms programs, std::vector<std::string> fixedDirectories)
    : paths_(std::move(paths)), programs_(std::move(programs)), fixedDirectories_(std::move(fixedDirectories)) {}

std::vector<std::string> ToolLocator::defaultFixedDirectories() {
  return {"/opt/homebrew/bin/", "/usr/local/bin/", "/usr/bin/"};
}

std::vector<std::string> ToolLocator::candidates(std::string_view name) const {
  std::string n(name);
  std::vector<std::string> list{
      paths_.resourcePath + "/tools/" + n,
      paths_.bundlePath + "/Contents/MacOS/" + n,
      paths_.executableDir + "/../Resources/tools/" + n,
      paths_.bundlePath + "/../../../../tools/" + n,
  };
  for (const auto &directory : fixedDirectories_)
    list.push_back(directory + n);
  return list;
}

std::optional<std::string> ToolLocator::findTool(std::string_view name) const {
  for (const auto &candidate : candidates(name))
    if (entryExists(candidate))
      return candidate;
  std::string answer;
  try {
    ProcessLaunch launch;
    launch.executable = programs_.which;
    launch.arguments = {std::string(name)};
    answer = runAndCollect(launch).standardOutput;
  } catch (const LaunchError &) {
    // A which that cannot start counts as one that found nothing.
  }
  if (!isValidUtf8(answer))
    return std::nullopt;
  answer = trimmed(answer);
  if (answer.empty() || !entryExists(answer))
    return std::nullopt;
  return answer;
}

} // namespace kestrova::tools
