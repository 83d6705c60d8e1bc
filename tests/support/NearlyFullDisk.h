#pragma once

#include <cstdint>
#include <filesystem>

namespace kestrova::test {

/// A small ext4 file system mounted at `folder` with about `freeBytes` left
/// (the rest taken by `folder/filler`) for the object's life; unmounted at the
/// end. Needs root and loop devices: `mounted()` says whether it worked.
class NearlyFullDisk {
public:
  NearlyFullDisk(const std::filesystem::path &folder, std::uintmax_t freeBytes);
  ~NearlyFullDisk();
  NearlyFullDisk(const NearlyFullDisk &) = delete;
  NearlyFullDisk &operator=(const NearlyFullDisk &) = delete;

  bool mounted() const { return mounted_; }

private:
  std::filesystem::path folder_;
  bool mounted_ = false;
};

} // namespace kestrova::test
