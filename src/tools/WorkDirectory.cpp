#include "tools/WorkDirectory.h"

#include "tools/RunLock.h"

#include <algorithm>
#include <fmt/format.h>
#include <iterator>
#include <random>

namespace kestrova::tools {
namespace fs = std::filesystem;

namespace {
void emit(const LogFn &log, const std::string &line) {
  if (log)
    log(line);
}
} // namespace

std::string newWorkDirectoryName() {
  // Only the first UUID group is used; its 32 bits are fully random in a
  // version-4 UUID (the version nibble sits in the third group).
  std::random_device device;
  std::uniform_int_distribution<std::uint32_t> bits;
  return fmt::format("Kestrova_{:08X}", bits(device));
}

NewWorkDirectory createWorkDirectory(const fs::path &outputDirectory, const LogFn &verbose,
                                     const std::vector<fs::path> &outputs) {
  NewWorkDirectory created{outputDirectory / newWorkDirectoryName(), {}};
  fs::create_directories(created.path);
  try {
    created.lock = writeRunLock(created.path, outputs);
  } catch (...) {
    std::error_code ignored;
    fs::remove_all(created.path, ignored);
    throw;
  }
  emit(verbose, "Created temp directory: " + created.path.string());
  return created;
}

void removeIntermediate(const fs::path &item, std::string_view label, const LogFn &verbose) {
  std::error_code ec;
  auto status = fs::symlink_status(item, ec);
  if (!ec && !fs::exists(status))
    ec = std::make_error_code(std::errc::no_such_file_or_directory);
  if (!ec) {
    double megabytes = 0.0;
    if (fs::is_regular_file(status)) {
      auto size = fs::file_size(item, ec);
      megabytes = ec ? 0.0 : static_cast<double>(size) / 1048576.0;
      ec.clear();
    }
    fs::remove_all(item, ec);
    if (!ec) {
      emit(verbose, fmt::format("Cleaned up {}: {} ({:.1f} MB freed)", label, item.filename().string(), megabytes));
      return;
    }
  }
  emit(verbose, fmt::format("Warning: could not clean up {} at {}: {}", label, item.string(), ec.message()));
}

namespace {

// Demuxed views, interleaved streams and decoded pictures, whatever their size.
bool isBulkWorkFile(const fs::path &file) {
  static constexpr std::string_view kBulk[] = {".264", ".h264", ".mvc", ".yuv", ".hevc", ".265"};
  const std::string extension = file.extension().string();
  return std::find(std::begin(kBulk), std::end(kBulk), extension) != std::end(kBulk);
}

// Removes the large and bulk files and the FIFOs under `folder` (never the
// run's log); returns the bytes freed.
std::uintmax_t removeLargeFiles(const fs::path &folder) {
  std::vector<fs::path> large;
  std::uintmax_t bytes = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::error_code entryError;
    auto status = it->symlink_status(entryError);
    if (fs::is_fifo(status)) {
      large.push_back(it->path());
    } else if (fs::is_regular_file(status)) {
      auto size = it->file_size(entryError);
      if (!entryError && it->path().filename() != kRunLogName &&
          (size >= kLargeWorkFileBytes || isBulkWorkFile(it->path()))) {
        large.push_back(it->path());
        bytes += size;
      }
    }
  }
  for (const auto &file : large) {
    std::error_code ignored;
    fs::remove(file, ignored);
  }
  return bytes;
}

// A run that failed before any step wrote a file has nothing worth keeping:
// its log said no more than the console did.
bool holdsOnlyItsLog(const fs::path &folder) {
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator(folder, ec))
    if (entry.path().filename() != kRunLogName)
      return false;
  return !ec;
}

} // namespace

void finishWorkDirectory(bool succeeded, bool cancelled, const fs::path &workDirectory, const LogFn &verbose,
                         const LogFn &log, bool keepWork) {
  removeRunLock(workDirectory);
  if (!succeeded && !cancelled && holdsOnlyItsLog(workDirectory)) {
    std::error_code ignored;
    fs::remove_all(workDirectory, ignored);
    return;
  }
  if (succeeded || cancelled) {
    std::error_code ignored;
    fs::remove_all(workDirectory, ignored);
    emit(verbose, cancelled ? "Cancelled \u2014 cleaned up temp directory" : "Cleaned up temp directory");
    return;
  }
  std::string line = "The failed run's log is " + (workDirectory / kRunLogName).string();
  if (keepWork) {
    line += "; its work files are kept beside it";
  } else if (auto bytes = removeLargeFiles(workDirectory); bytes > 0) {
    line += fmt::format("; its large work files ({:.1f} MB of demuxed views and decoded pictures) were removed "
                        "(--keep-work keeps them)",
                        static_cast<double>(bytes) / 1048576.0);
  }
  emit(log, line);
}

WorkDirectoryGuard::WorkDirectoryGuard(fs::path workDirectory, std::function<bool()> succeeded,
                                       std::function<bool()> cancelled, LogFn verbose, LogFn log, bool keepWork,
                                       UniqueFd lock)
    : workDirectory_(std::move(workDirectory)), succeeded_(std::move(succeeded)), cancelled_(std::move(cancelled)),
      verbose_(std::move(verbose)), log_(std::move(log)), keepWork_(keepWork), lock_(std::move(lock)) {}

WorkDirectoryGuard::~WorkDirectoryGuard() {
  // Closed before its file is removed: FUSE (exFAT drives) keeps a removed
  // file that is still open as a hidden file, and the folder could not go.
  lock_.reset();
  try {
    finishWorkDirectory(succeeded_(), cancelled_(), workDirectory_, verbose_, log_, keepWork_);
  } catch (...) {
    // A log sink that throws must not turn an unwinding run into terminate().
  }
}

} // namespace kestrova::tools
