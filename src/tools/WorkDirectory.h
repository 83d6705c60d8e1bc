#pragma once

#include "core/Log.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace kestrova::tools {

/// "Kestrova_" + the first group of a fresh random version-4 UUID (upper case).
std::string newWorkDirectoryName();

/// Creates a fresh work directory inside `outputDirectory` (parents too) and
/// returns it. File-system errors propagate unchanged. `verbose` receives the
/// "Created temp directory: " line.
std::filesystem::path createWorkDirectory(const std::filesystem::path &outputDirectory, const LogFn &verbose);

/// Deletes one intermediate file while a run goes on, logging what was freed
/// (MB of 2^20 bytes) or a warning; never throws.
void removeIntermediate(const std::filesystem::path &item, std::string_view label, const LogFn &verbose);

/// The end-of-run decision: deletes `workDirectory` after success or
/// cancellation, and after a failure when it holds nothing; a failed run's
/// files are kept, and `log` (the normal log) says where. Never throws.
void finishWorkDirectory(bool succeeded, bool cancelled, const std::filesystem::path &workDirectory,
                         const LogFn &verbose, const LogFn &log);

/// Runs finishWorkDirectory exactly once when the run's scope ends, however
/// it ends. The flags are read at that moment.
class WorkDirectoryGuard {
public:
  WorkDirectoryGuard(std::filesystem::path workDirectory, std::function<bool()> succeeded,
                     std::function<bool()> cancelled, LogFn verbose, LogFn log);
  ~WorkDirectoryGuard();
  WorkDirectoryGuard(const WorkDirectoryGuard &) = delete;
  WorkDirectoryGuard &operator=(const WorkDirectoryGuard &) = delete;

private:
  std::filesystem::path workDirectory_;
  std::function<bool()> succeeded_;
  std::function<bool()> cancelled_;
  LogFn verbose_;
  LogFn log_;
};

} // namespace kestrova::tools
