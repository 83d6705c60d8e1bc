#pragma once

#include "tools/SystemPrograms.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::tools {

/// The three base paths of the search. On Linux: E is the directory of the
/// running executable, B = E + "/.." (the installation prefix) and
/// R = B + "/share/kestrova" (which holds the tools folder).
struct BundlePaths {
  std::string resourcePath;  ///< R; empty when unknown
  std::string bundlePath;    ///< B
  std::string executableDir; ///< E; empty when unknown

  /// The paths of the running program, from /proc/self/exe.
  static BundlePaths forRunningExecutable();
  /// The paths for a program installed (or built) under `prefix`.
  static BundlePaths forPrefix(const std::string &prefix);
};

/// Turns a tool's file name into the full path of an existing file. Keeps no
/// state: every call repeats the whole search, including the `which` fallback.
class ToolLocator {
public:
  explicit ToolLocator(BundlePaths paths, SystemPrograms programs = {},
                       std::vector<std::string> fixedDirectories = defaultFixedDirectories());

  /// "/opt/homebrew/bin/", "/usr/local/bin/", "/usr/bin/".
  static std::vector<std::string> defaultFixedDirectories();

  /// The seven candidate paths for `name`, in search order.
  std::vector<std::string> candidates(std::string_view name) const;

  /// The first candidate that exists (any kind of entry), else what `which`
  /// prints when that names an existing entry, else nothing.
  std::optional<std::string> findTool(std::string_view name) const;

  const SystemPrograms &programs() const { return programs_; }

private:
  BundlePaths paths_;
  SystemPrograms programs_;
  std::vector<std::string> fixedDirectories_;
};

} // namespace kestrova::tools
