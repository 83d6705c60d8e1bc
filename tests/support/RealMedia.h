#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace kestrova::test {

/// The reference media folder (`shared/testdata` beside the checkout, or
/// beside the folder of worktrees); nullopt when this machine has none.
std::optional<std::filesystem::path> referenceMedia();

/// A real third-party program that scripts/build-tools built into
/// $KESTROVA_THIRD_PARTY_PREFIX/bin; nullopt when it is not there.
std::optional<std::filesystem::path> realTool(const std::string &name);

/// An exFAT file system (no symbolic links, no FIFOs: a typical USB drive)
/// made with mkfs.exfat in a sparse image file and mounted through FUSE on
/// a loop device. Unmounted and detached on destruction.
class ExfatMount {
public:
  /// Mounts a fresh image of `megabytes` at `scratch`/mnt. Nullptr, with
  /// the reason in `why`, where this machine cannot (not root, no
  /// /dev/fuse, no loop device, exfat-fuse or exfatprogs missing).
  static std::unique_ptr<ExfatMount> create(const std::filesystem::path &scratch, int megabytes, std::string &why);
  ~ExfatMount();
  ExfatMount(const ExfatMount &) = delete;
  ExfatMount &operator=(const ExfatMount &) = delete;

  const std::filesystem::path &path() const { return mountPoint_; }
  /// Mounts the same file system again read-only (a mounted disc's folder).
  /// False when that fails.
  bool remountReadOnly();

private:
  struct Key {
    explicit Key() = default;
  };

public:
  /// Use create(); the key keeps construction to it.
  ExfatMount(Key, std::filesystem::path image, std::filesystem::path mountPoint, std::string loop)
      : image_(std::move(image)), mountPoint_(std::move(mountPoint)), loop_(std::move(loop)) {}

private:
  bool mount(bool readOnly);
  bool unmount(); ///< whether it is unmounted now
  std::filesystem::path image_;
  std::filesystem::path mountPoint_;
  std::string loop_;
  bool mounted_ = false;
};

} // namespace kestrova::test
