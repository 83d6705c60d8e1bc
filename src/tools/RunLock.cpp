#include "tools/RunLock.h"

#include "tools/FileText.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fmt/format.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

namespace kestrova::tools {
namespace fs = std::filesystem;

namespace {

std::string currentBootId() {
  std::string id = readWholeFile("/proc/sys/kernel/random/boot_id");
  while (!id.empty() && (id.back() == '\n' || id.back() == ' '))
    id.pop_back();
  return id;
}

// Field 22 of /proc/PID/stat (after the name in parentheses, which may
// itself hold spaces and parentheses); none for a zombie or a pid not in use.
std::optional<std::uint64_t> startTimeOf(pid_t pid) {
  std::string stat = readWholeFile(fs::path("/proc") / std::to_string(pid) / "stat");
  auto close = stat.rfind(')');
  if (close == std::string::npos)
    return std::nullopt;
  std::istringstream fields(stat.substr(close + 1));
  std::string state;
  fields >> state;
  if (state == "Z" || state == "X")
    return std::nullopt;
  std::string field;
  for (int i = 4; i < 22 && fields >> field; ++i) {
  }
  std::uint64_t start = 0;
  if (!(fields >> start))
    return std::nullopt;
  return start;
}

bool isWorkFolderName(std::string_view name) {
  constexpr std::string_view prefix = "Kestrova_";
  return name.size() == prefix.size() + 8 && name.starts_with(prefix) &&
         name.find_first_not_of("0123456789ABCDEFabcdef", prefix.size()) == std::string_view::npos;
}

// The work folder a hidden temporary belongs to: ".Kestrova_XXXXXXXX-..."
// or, for a tool's own partial copy of one, "..Kestrova_XXXXXXXX-...".
std::optional<std::string> temporaryOwner(std::string_view name) {
  std::size_t dots = name.starts_with("..") ? 2 : name.starts_with(".") ? 1 : 0;
  if (dots == 0 || name.size() < dots + 18 || name[dots + 17] != '-')
    return std::nullopt;
  std::string_view folder = name.substr(dots, 17);
  if (!isWorkFolderName(folder))
    return std::nullopt;
  return std::string(folder);
}

struct LockContent {
  ProcessIdentity owner;
  std::vector<fs::path> outputs;
};

std::optional<LockContent> readLock(const fs::path &workDirectory) {
  std::ifstream in(workDirectory / kRunLockName);
  if (!in)
    return std::nullopt;
  LockContent lock;
  std::string line;
  if (!std::getline(in, line))
    return std::nullopt;
  std::istringstream identity(line);
  if (!(identity >> lock.owner.pid >> lock.owner.startTime >> lock.owner.bootId))
    return std::nullopt;
  while (std::getline(in, line))
    if (!line.empty())
      lock.outputs.emplace_back(line);
  return lock;
}

// Whether an open file of another run holds the lock file's flock. Probed
// with a shared lock, which a read-only descriptor may take on every file
// system (NFS maps it to a read lock). A file system without locks answers
// no: the owner's pid tells then.
bool lockFileHeld(const fs::path &workDirectory) {
  const UniqueFd probe(::open((workDirectory / kRunLockName).c_str(), O_RDONLY | O_CLOEXEC));
  if (!probe.valid())
    return false;
  if (::flock(probe.get(), LOCK_SH | LOCK_NB) == 0)
    return false; // closing the probe lets it go
  return errno == EWOULDBLOCK;
}

// The pid first: a run of this process's own PID namespace is never probed,
// since on NFS (locks of the process, not of the open file) closing the
// probe would let go of this process's own lock.
bool liveOwner(const fs::path &workDirectory, const LockContent &lock) {
  return lock.owner.alive() || lockFileHeld(workDirectory);
}

std::uintmax_t sizeOf(const fs::path &item) {
  std::error_code ec;
  if (fs::is_regular_file(fs::symlink_status(item, ec)))
    return fs::file_size(item, ec);
  std::uintmax_t total = 0;
  for (auto it = fs::recursive_directory_iterator(item, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    if (it->is_regular_file(ec))
      total += it->file_size(ec);
  return total;
}

void removeInto(const fs::path &item, LeftoverSweep &sweep) {
  std::uintmax_t size = sizeOf(item);
  std::error_code ec;
  fs::remove_all(item, ec);
  if (ec)
    return;
  sweep.removed.push_back(item);
  sweep.bytesFreed += size;
}

// A dead run's folder: everything but its reusable entries, and the folder
// itself when nothing reusable is in it.
void removeDeadFolder(const fs::path &folder, const std::vector<std::string> &reusable, LeftoverSweep &sweep) {
  std::error_code ec;
  bool keeps = false;
  for (const auto &name : reusable)
    keeps = keeps || fs::exists(folder / name, ec);
  if (!keeps) {
    removeInto(folder, sweep);
    return;
  }
  for (const auto &entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (std::find(reusable.begin(), reusable.end(), name) == reusable.end() && name != kRunLockName)
      removeInto(entry.path(), sweep);
  }
}

} // namespace

ProcessIdentity ProcessIdentity::self() {
  ProcessIdentity identity;
  identity.pid = ::getpid();
  identity.startTime = startTimeOf(identity.pid).value_or(0);
  identity.bootId = currentBootId();
  return identity;
}

bool ProcessIdentity::alive() const {
  if (pid <= 0 || bootId != currentBootId())
    return false;
  auto start = startTimeOf(pid);
  return start && *start == startTime;
}

bool ProcessIdentity::earlierThan(const ProcessIdentity &other) const {
  return startTime != other.startTime ? startTime < other.startTime : pid < other.pid;
}

UniqueFd writeRunLock(const fs::path &workDirectory, const std::vector<fs::path> &outputs) {
  const ProcessIdentity self = ProcessIdentity::self();
  std::string text = fmt::format("{} {} {}\n", self.pid, self.startTime, self.bootId);
  for (const auto &output : outputs)
    text += output.string() + "\n";
  const fs::path path = workDirectory / kRunLockName;
  UniqueFd lock(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!lock.valid())
    throw fs::filesystem_error("cannot write the run's lock", path, std::error_code(errno, std::generic_category()));
  // Taken before the text is there: a sweep that reads no owner yet leaves the folder alone.
  ::flock(lock.get(), LOCK_EX | LOCK_NB);
  for (std::string_view rest = text; !rest.empty();) {
    const ssize_t written = ::write(lock.get(), rest.data(), rest.size());
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      throw fs::filesystem_error("cannot write the run's lock", path,
                                 std::error_code(written < 0 ? errno : EIO, std::generic_category()));
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
  return lock;
}

void removeRunLock(const fs::path &workDirectory) {
  std::error_code ignored;
  fs::remove(workDirectory / kRunLockName, ignored);
}

bool heldByLiveRun(const fs::path &workDirectory) {
  auto lock = readLock(workDirectory);
  return lock && liveOwner(workDirectory, *lock);
}

LeftoverSweep sweepLeftovers(const fs::path &outputDirectory, const std::vector<std::string> &reusable,
                             const fs::path &own) {
  LeftoverSweep sweep;
  std::vector<fs::path> entries;
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator(outputDirectory, ec))
    entries.push_back(entry.path());
  std::vector<std::string> working, dead;
  for (const auto &path : entries) {
    const std::string name = path.filename().string();
    if (!isWorkFolderName(name) || !fs::is_directory(fs::symlink_status(path, ec)))
      continue;
    if (!own.empty() && path == own) {
      working.push_back(name);
      continue;
    }
    auto lock = readLock(path);
    if (!lock) {
      working.push_back(name); // ended on its own, or just being made
    } else if (liveOwner(path, *lock)) {
      working.push_back(name);
      sweep.live.push_back({path, lock->owner, lock->outputs});
    } else {
      dead.push_back(name);
      removeDeadFolder(path, reusable, sweep);
    }
  }
  for (const auto &path : entries) {
    auto owner = temporaryOwner(path.filename().string());
    if (owner && std::find(working.begin(), working.end(), *owner) == working.end())
      removeInto(path, sweep);
  }
  return sweep;
}

OutputBusyError::OutputBusyError(const fs::path &output, std::optional<pid_t> owner)
    : Error(fmt::format("another Kestrova run ({}) is writing \"{}\" in {}; nothing was converted. Wait "
                        "for it to end, or choose another output folder",
                        owner ? fmt::format("process {}", *owner) : "of another machine or container",
                        output.filename().string(), output.parent_path().string())) {}

void refuseBusyOutputs(const LeftoverSweep &sweep, const ProcessIdentity &self, const std::vector<fs::path> &outputs) {
  for (const auto &run : sweep.live) {
    if (run.owner.pid == self.pid && run.owner.startTime == self.startTime)
      continue;
    if (!run.owner.earlierThan(self))
      continue;
    for (const auto &output : outputs)
      if (std::find(run.outputs.begin(), run.outputs.end(), output) != run.outputs.end())
        throw OutputBusyError(output, run.owner.alive() ? std::optional(run.owner.pid) : std::nullopt);
  }
}

void logSweep(const LeftoverSweep &sweep, const LogFn &log) {
  if (sweep.removed.empty() || !log)
    return;
  std::string names;
  for (const auto &path : sweep.removed)
    names += (names.empty() ? "" : ", ") + path.filename().string();
  log(fmt::format("Removed what an interrupted run left in {}: {} ({:.1f} MB freed)",
                  sweep.removed.front().parent_path().string(), names,
                  static_cast<double>(sweep.bytesFreed) / 1048576.0));
}

} // namespace kestrova::tools
