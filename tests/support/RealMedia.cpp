#include "support/RealMedia.h"

#include "support/TestSupport.h"
#include "tools/Process.h"

#include <cstdlib>
#include <unistd.h>

namespace kestrova::test {
namespace fs = std::filesystem;

namespace {

tools::CollectedOutput run(const std::string &executable, std::vector<std::string> arguments) {
  tools::ProcessLaunch launch;
  launch.executable = executable;
  launch.arguments = std::move(arguments);
  try {
    return tools::runAndCollect(launch);
  } catch (const tools::LaunchError &error) {
    return {{127, false}, {}, error.what()};
  }
}

std::optional<std::string> program(const std::string &name) {
  for (const char *folder : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"})
    if (::access((folder + name).c_str(), X_OK) == 0)
      return folder + name;
  return std::nullopt;
}

} // namespace

std::optional<fs::path> referenceMedia() {
  for (const fs::path &candidate : {sourceDir() / "../shared/testdata", sourceDir() / "../../shared/testdata"})
    if (fs::is_directory(candidate / "bluray"))
      return fs::canonical(candidate);
  return std::nullopt;
}

std::optional<fs::path> realTool(const std::string &name) {
  const char *prefix = std::getenv("KESTROVA_THIRD_PARTY_PREFIX");
  if (prefix == nullptr || *prefix == '\0')
    return std::nullopt;
  const fs::path tool = fs::path(prefix) / "bin" / name;
  if (::access(tool.c_str(), X_OK) != 0)
    return std::nullopt;
  return tool;
}

std::unique_ptr<ExfatMount> ExfatMount::create(const fs::path &scratch, int megabytes, std::string &why) {
  const auto mkfs = program("mkfs.exfat"), fuse = program("mount.exfat-fuse"), losetup = program("losetup");
  if (::geteuid() != 0) {
    why = "mounting an exFAT image needs root (CI runs as root)";
    return nullptr;
  }
  if (::access("/dev/fuse", R_OK | W_OK) != 0 || !mkfs || !fuse || !losetup) {
    why = "no /dev/fuse, mkfs.exfat (exfatprogs), mount.exfat-fuse (exfat-fuse) or losetup";
    return nullptr;
  }
  const fs::path image = scratch / "exfat.img", mountPoint = scratch / "mnt";
  fs::create_directories(mountPoint);
  writeFile(image, "");
  fs::resize_file(image, static_cast<std::uintmax_t>(megabytes) << 20); // sparse: costs what is written
  if (auto made = run(*mkfs, {image.string()}); !made.status.success()) {
    why = "mkfs.exfat failed: " + made.standardError;
    return nullptr;
  }
  // exfat-fuse mounts block devices only.
  auto attached = run(*losetup, {"--find", "--show", image.string()});
  if (!attached.status.success()) {
    why = "no loop device: " + attached.standardError;
    return nullptr;
  }
  std::string loop = attached.standardOutput;
  while (!loop.empty() && (loop.back() == '\n' || loop.back() == ' '))
    loop.pop_back();
  auto mount = std::make_unique<ExfatMount>(Key(), image, mountPoint, loop);
  if (!mount->mount(false)) {
    why = "mount.exfat-fuse failed on " + loop;
    return nullptr;
  }
  return mount;
}

bool ExfatMount::mount(bool readOnly) {
  std::vector<std::string> arguments;
  if (readOnly)
    arguments = {"-o", "ro"};
  arguments.insert(arguments.end(), {loop_, mountPoint_.string()});
  mounted_ = run(*program("mount.exfat-fuse"), arguments).status.success();
  return mounted_;
}

bool ExfatMount::unmount() {
  if (mounted_ && run(*program("umount"), {mountPoint_.string()}).status.success())
    mounted_ = false;
  return !mounted_;
}

bool ExfatMount::remountReadOnly() {
  // umount of a FUSE file system can be refused as busy for a moment, and its
  // daemon can hold the device a moment after umount returns: retry both.
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (unmount() && mount(true))
      return true;
    ::usleep(100'000);
  }
  return false;
}

ExfatMount::~ExfatMount() {
  for (int attempt = 0; attempt < 50 && !unmount(); ++attempt)
    ::usleep(100'000);
  run(*program("losetup"), {"--detach", loop_});
  std::error_code ignored;
  fs::remove(image_, ignored);
}

} // namespace kestrova::test
