#pragma once

#include <string>

namespace kestrova::mvhevc {

/// The hidden temporary name for `finalName` (a name, not a path): "." + the name +
/// ".partial-PID", the name shortened (at a character boundary) so that the whole stays within
/// 255 bytes.
std::string temporaryName(const std::string &finalName, long pid);

/// A file written under a temporary name beside its final name; removed unless committed.
class PartialFile {
public:
  /// Picks a hidden temporary name in the directory of `finalPath`.
  explicit PartialFile(std::string finalPath);
  ~PartialFile();
  PartialFile(const PartialFile &) = delete;
  PartialFile &operator=(const PartialFile &) = delete;

  const std::string &path() const { return temporary_; }
  /// Renames the temporary file to the final name. Throws OutputError when that fails.
  void commit();

private:
  std::string final_;
  std::string temporary_;
  bool committed_ = false;
};

} // namespace kestrova::mvhevc
