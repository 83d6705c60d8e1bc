#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::disc {

/// The files of one disc, in a folder or inside an image. Paths are relative
/// to the disc's root with '/' between names, e.g. "BDMV/PLAYLIST/00800.mpls".
class DiscFiles {
public:
  virtual ~DiscFiles() = default;
  /// The names in `folder`; empty when it does not exist.
  virtual std::vector<std::string> list(const std::string &folder) const = 0;
  /// The size of the file, nothing when it is not there.
  virtual std::optional<std::uint64_t> size(const std::string &file) const = 0;
  /// How far the file reaches past the end of what holds the disc: an image
  /// cut short by a copy or download that stopped part way. 0 for a folder.
  virtual std::uint64_t bytesPastEnd(const std::string &) const { return 0; }
  /// Up to `limit` bytes from the start of the file; nothing when it cannot be read.
  virtual std::optional<std::string> read(const std::string &file, std::size_t limit) const = 0;
  /// The disc's volume label, empty when it has none.
  virtual std::string label() const = 0;
  /// Where tsMuxeR can read `file` as a real file; nothing for an image.
  virtual std::optional<std::filesystem::path> realPath(const std::string &file) const = 0;
  /// Copies `file` to `target`. Throws the file-system error or SourceError.
  virtual void copy(const std::string &file, const std::filesystem::path &target) const = 0;
};

/// The disc in the folder `root` (the folder holding BDMV).
std::unique_ptr<DiscFiles> openDiscFolder(const std::filesystem::path &root);

/// The disc in the UDF image `image`, read without mounting it. Throws
/// SourceError when the image cannot be read as UDF.
std::unique_ptr<DiscFiles> openDiscImage(const std::filesystem::path &image);

} // namespace kestrova::disc
