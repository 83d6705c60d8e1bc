#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::tools {

/// Where short-lived named pipes can go when the work folder cannot hold
/// them (exFAT and FAT have neither FIFOs nor symbolic links), best first:
/// $XDG_RUNTIME_DIR, then $TMPDIR or else /tmp; only folders that exist
/// are listed.
std::vector<std::filesystem::path> scratchFolderCandidates();

/// A folder of mode 0700 with a fresh name, removed with everything in it on
/// destruction. Move-only.
class PrivateFolder {
public:
  /// Makes `parent`/`prefix`XXXXXX, named by its absolute path; nullopt
  /// when it cannot be made.
  static std::optional<PrivateFolder> create(const std::filesystem::path &parent, std::string_view prefix);

  PrivateFolder(PrivateFolder &&other) noexcept;
  PrivateFolder &operator=(PrivateFolder &&other) noexcept;
  PrivateFolder(const PrivateFolder &) = delete;
  PrivateFolder &operator=(const PrivateFolder &) = delete;
  ~PrivateFolder();

  const std::filesystem::path &path() const { return path_; }

private:
  explicit PrivateFolder(std::filesystem::path path) : path_(std::move(path)) {}
  void remove() noexcept;
  std::filesystem::path path_;
};

/// A private folder in which a FIFO could be made: beside `preferred` first
/// (nullopt skips it), then in each scratch folder. The probe FIFO is
/// removed again. Nullopt when no place allows one.
std::optional<PrivateFolder> createFifoFolder(const std::optional<std::filesystem::path> &preferred,
                                              std::string_view prefix);

} // namespace kestrova::tools
