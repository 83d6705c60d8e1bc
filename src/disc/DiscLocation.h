#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kestrova::disc {

/// Which disc (if any) an input names, and which part of it.
struct DiscLocation {
  enum class Kind { plainFile, folder, image };
  Kind kind = Kind::plainFile;
  /// The folder holding BDMV, the image file, or the plain file itself.
  std::filesystem::path container;
  /// A playlist named by the input (a .mpls file): its number.
  std::optional<int> playlist;
  /// A clip named by the input (a .m2ts in BDMV/STREAM or a .ssif): its five digits.
  std::optional<std::string> clip;

  bool isDisc() const { return kind != Kind::plainFile; }
  friend bool operator==(const DiscLocation &, const DiscLocation &) = default;
};

/// Whether `folder` is a disc's: it holds BDMV or lies inside a disc's BDMV
/// tree. Looks at nothing else (a cheap check for a queue of many entries).
bool isDiscFolder(const std::filesystem::path &folder);

/// Where `input` lies: a disc root, its BDMV folder or a folder inside it, a
/// playlist, a clip or SSIF file inside a disc's BDMV/STREAM, a .iso image,
/// or a plain file (a lone clip with no BDMV/PLAYLIST beside it stays one).
/// Throws SourceError for a folder that is not a disc ("no BDMV folder in
/// ..."), naming the disc folders and images it holds, if any.
DiscLocation locateDisc(const std::filesystem::path &input);

} // namespace kestrova::disc
