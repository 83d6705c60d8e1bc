#include "tools/StagedOutputs.h"

#include "core/Errors.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <fmt/format.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kestrova::tools {
namespace fs = std::filesystem;

namespace {

// The first `limit` bytes of `text`, never cutting a UTF-8 character in two.
std::string utf8Prefix(const std::string &text, std::size_t limit) {
  if (text.size() <= limit)
    return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
    --end;
  return text.substr(0, end);
}

// rename() that refuses to replace: the kernel's RENAME_NOREPLACE where the
// file system has it (exFAT through FUSE may answer EINVAL), else a check
// just before the rename.
void renameWithoutReplacing(const fs::path &from, const fs::path &to) {
  constexpr unsigned kNoReplace = 1; // RENAME_NOREPLACE
  if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), kNoReplace) == 0)
    return;
  int error = errno;
  if (error == EEXIST)
    throw OutputExistsError(to);
  if (error != EINVAL && error != ENOSYS)
    throw fs::filesystem_error("cannot give the output its name", from, to,
                               std::error_code(error, std::generic_category()));
  std::error_code ec;
  if (fs::exists(fs::symlink_status(to, ec)))
    throw OutputExistsError(to);
  fs::rename(from, to);
}

} // namespace

fs::path temporaryOutputPath(const fs::path &finalPath, std::string_view token) {
  const std::string prefix = "." + std::string(token) + "-";
  const std::string extension = finalPath.extension().string();
  const std::string stem = finalPath.stem().string();
  if (prefix.size() + stem.size() + extension.size() <= kMaxFileNameBytes)
    return finalPath.parent_path() / (prefix + stem + extension);
  // Shortened, two long names that differ only near their ends ("NAME.mov"
  // and "NAME_SBS.mov") would meet in one temporary file; a mark made from
  // the whole name keeps them apart.
  std::uint32_t hash = 2166136261u; // FNV-1a
  for (unsigned char byte : finalPath.filename().string())
    hash = (hash ^ byte) * 16777619u;
  char mark[10];
  std::snprintf(mark, sizeof mark, "~%08x", hash);
  const std::size_t fixed = prefix.size() + sizeof mark - 1 + extension.size();
  const std::size_t room = kMaxFileNameBytes > fixed ? kMaxFileNameBytes - fixed : 0;
  return finalPath.parent_path() / (prefix + utf8Prefix(stem, room) + mark + extension);
}

CommitError::CommitError(const std::string &text) : Error(text) {}

StagedOutputs::StagedOutputs(std::string token, bool replaceExisting)
    : token_(std::move(token)), replaceExisting_(replaceExisting) {}

StagedOutputs::~StagedOutputs() {
  for (const auto &entry : entries_) {
    if (entry.committed || entry.kept)
      continue;
    std::error_code ignored;
    fs::remove(entry.temporaryPath, ignored);
    removeToolPartials(entry.temporaryPath);
  }
}

void StagedOutputs::removeToolPartials(const fs::path &temporaryPath) const {
  // A tool killed while it writes (the converter keeps its own
  // ".NAME.partial-PID" beside NAME) cannot clean up after itself. Only
  // names that carry this run's token are touched.
  const std::string temporaryName = temporaryPath.filename().string();
  const std::string ownPrefix = ".." + token_ + "-";
  constexpr std::string_view kPartial = ".partial-";
  std::error_code ec;
  for (const auto &sibling : fs::directory_iterator(temporaryPath.parent_path(), ec)) {
    const std::string name = sibling.path().filename().string();
    const auto partial = name.rfind(kPartial);
    if (!name.starts_with(ownPrefix) || partial == std::string::npos ||
        name.find_first_not_of("0123456789", partial + kPartial.size()) != std::string::npos)
      continue;
    // The tool shortens a long name; what is left must still be ours.
    if (temporaryName.starts_with(std::string_view(name).substr(1, partial - 1))) {
      std::error_code ignored;
      fs::remove(sibling.path(), ignored);
    }
  }
}

fs::path StagedOutputs::stage(const fs::path &finalPath) {
  for (const auto &entry : entries_)
    if (entry.finalPath == finalPath)
      return entry.temporaryPath;
  entries_.push_back({finalPath, temporaryOutputPath(finalPath, token_), false});
  return entries_.back().temporaryPath;
}

namespace {

std::string reasonOf(const std::error_code &error) {
  return error.value() == ENAMETOOLONG ? "its path is too long for the file system" : error.message();
}

} // namespace

void StagedOutputs::commit() {
  // Every file is checked before any is renamed: a run either gives all its
  // outputs their names or none, and never reports a file it did not write.
  for (const auto &entry : entries_) {
    if (entry.committed)
      continue;
    std::error_code ec;
    auto status = fs::status(entry.temporaryPath, ec);
    if (!fs::exists(status)) {
      std::error_code folderError;
      const bool folderGone = !fs::is_directory(entry.finalPath.parent_path(), folderError);
      throw CommitError(fmt::format("{} was not written: {}", entry.finalPath.string(),
                                    folderGone ? "the output folder " + entry.finalPath.parent_path().string() +
                                                     " was moved or removed during the conversion"
                                               : "its temporary file " + entry.temporaryPath.filename().string() +
                                                     " is gone (" + reasonOf(ec) + ")"));
    }
    if (!fs::is_regular_file(status) || fs::file_size(entry.temporaryPath, ec) == 0)
      throw ConversionError::encodingFailed("nothing was written to " + entry.finalPath.filename().string());
  }
  for (auto &entry : entries_) {
    if (entry.committed)
      continue;
    try {
      if (replaceExisting_)
        fs::rename(entry.temporaryPath, entry.finalPath);
      else
        renameWithoutReplacing(entry.temporaryPath, entry.finalPath);
    } catch (const fs::filesystem_error &error) {
      // The finished file stays where it is, and the user learns where.
      entry.kept = fs::exists(entry.temporaryPath);
      throw CommitError(
          fmt::format("{} could not be given its name ({}){}", entry.finalPath.string(), reasonOf(error.code()),
                      entry.kept ? "; the finished file is kept as " + entry.temporaryPath.string() : std::string()));
    }
    entry.committed = true;
  }
  for (const auto &entry : entries_) {
    std::error_code ec;
    if (!fs::is_regular_file(entry.finalPath, ec))
      throw CommitError(fmt::format("{} is not there after it was given its name: the output folder was moved "
                                    "or changed during the conversion",
                                    entry.finalPath.string()));
  }
}

} // namespace kestrova::tools
