#include "support/NearlyFullDisk.h"

#include "support/TestSupport.h"
#include "tools/Process.h"

#include <algorithm>
#include <string>

namespace kestrova::test {
namespace {

bool shell(const std::string &command) {
  return tools::runAndCollect({"/bin/sh", {"-c", command}, {}}).status.success();
}

} // namespace

NearlyFullDisk::NearlyFullDisk(const std::filesystem::path &folder, std::uintmax_t freeBytes) : folder_(folder) {
  const std::string image = shellQuoted(folder.string() + ".img");
  const std::string at = shellQuoted(folder.string());
  const std::uintmax_t size = std::max<std::uintmax_t>(16u << 20, freeBytes + freeBytes / 8 + (8u << 20));
  // A loop mount (the image is freed with it) is there only when the mount worked.
  mounted_ = shell("truncate -s " + std::to_string(size) + " " + image + " && mkfs.ext4 -q -m 0 " + image +
                   " && mkdir -p " + at + " && mount -o loop " + image + " " + at);
  if (mounted_)
    shell("fallocate -l $(( $(df --output=avail -B1 " + at + " | tail -1) - " + std::to_string(freeBytes) + " )) " +
          at + "/filler");
}

NearlyFullDisk::~NearlyFullDisk() {
  if (mounted_)
    shell("umount " + shellQuoted(folder_.string()));
}

} // namespace kestrova::test
