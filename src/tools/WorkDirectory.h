#pragma once

#include "core/Log.h"
#include "core/UniqueFd.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::tools {

/// "Kestrova_" + the first group of a fresh random version-4 UUID (upper case).
std::string newWorkDirectoryName();

/// A fresh work directory and the descriptor that holds the run's lock in it.
struct NewWorkDirectory {
  std::filesystem::path path;
  UniqueFd lock; ///< the run is alive to others while this is open
};

/// Creates a fresh work directory inside `outputDirectory` (parents too),
/// holding the run's lock (see RunLock.h) that names `outputs`, and returns
/// it. File-system errors propagate unchanged. `verbose` receives the
/// "Created temp directory: " line.
NewWorkDirectory createWorkDirectory(const std::filesystem::path &outputDirectory, const LogFn &verbose,
                                     const std::vector<std::filesystem::path> &outputs = {});

/// The run's own log, kept in its work directory.
inline constexpr const char *kRunLogName = "kestrova.log";

/// Work files from this size on are a failed run's large files (demuxed
/// views, decoded pictures, interleaved streams), removed unless kept.
inline constexpr std::uintmax_t kLargeWorkFileBytes = 1u << 20;

/// Deletes one intermediate file while a run goes on, logging what was freed
/// (MB of 2^20 bytes) or a warning; never throws.
void removeIntermediate(const std::filesystem::path &item, std::string_view label, const LogFn &verbose);

/// The end-of-run decision: deletes `workDirectory` after success or
/// cancellation, and after a failure when it holds nothing. A failed run
/// keeps its log and small files for diagnosis; its large files and FIFOs go
/// unless `keepWork`. `log` (the normal log) says where the log is. The
/// run's lock is removed in every case. Never throws.
void finishWorkDirectory(bool succeeded, bool cancelled, const std::filesystem::path &workDirectory,
                         const LogFn &verbose, const LogFn &log, bool keepWork = false);

/// Runs finishWorkDirectory exactly once when the run's scope ends, however
/// it ends. The flags are read at that moment. The run's `lock` is let go
/// first.
class WorkDirectoryGuard {
public:
  WorkDirectoryGuard(std::filesystem::path workDirectory, std::function<bool()> succeeded,
                     std::function<bool()> cancelled, LogFn verbose, LogFn log, bool keepWork = false,
                     UniqueFd lock = {});
  ~WorkDirectoryGuard();
  WorkDirectoryGuard(const WorkDirectoryGuard &) = delete;
  WorkDirectoryGuard &operator=(const WorkDirectoryGuard &) = delete;

private:
  std::filesystem::path workDirectory_;
  std::function<bool()> succeeded_;
  std::function<bool()> cancelled_;
  LogFn verbose_;
  LogFn log_;
  bool keepWork_;
  UniqueFd lock_;
};

} // namespace kestrova::tools
