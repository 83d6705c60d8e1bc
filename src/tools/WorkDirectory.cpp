#include "tools/WorkDirectory.h"

#include <fmt/format.h>
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

fs::path createWorkDirectory(const fs::path &outputDirectory, const LogFn &verbose) {
  fs::path directory = outputDirectory / newWorkDirectoryName();
  fs::create_directories(directory);
  emit(verbose, "Created temp directory: " + directory.string());
  return directory;
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

void finishWorkDirectory(bool succeeded, bool cancelled, const fs::path &workDirectory, const LogFn &verbose,
                         const LogFn &log) {
  std::error_code ec;
  if (!succeeded && !cancelled && fs::is_empty(workDirectory, ec) && !ec) {
    fs::remove(workDirectory, ec);
    return;
  }
  if (succeeded || cancelled) {
    std::error_code ignored;
    fs::remove_all(workDirectory, ignored);
    emit(verbose, cancelled ? "Cancelled \u2014 cleaned up temp directory" : "Cleaned up temp directory");
  } else {
    emit(log, "Work files of the failed run kept in " + workDirectory.string());
  }
}

WorkDirectoryGuard::WorkDirectoryGuard(fs::path workDirectory, std::function<bool()> succeeded,
                                       std::function<bool()> cancelled, LogFn verbose, LogFn log)
    : workDirectory_(std::move(workDirectory)), succeeded_(std::move(succeeded)), cancelled_(std::move(cancelled)),
      verbose_(std::move(verbose)), log_(std::move(log)) {}

WorkDirectoryGuard::~WorkDirectoryGuard() {
  try {
    finishWorkDirectory(succeeded_(), cancelled_(), workDirectory_, verbose_, log_);
  } catch (...) {
    // A log sink that throws must not turn an unwinding run into terminate().
  }
}

} // namespace kestrova::tools
