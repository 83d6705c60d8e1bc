#pragma once

#include <filesystem>
#include <vector>

namespace kestrova::app {

/// Shows files in the desktop file manager with those files selected.
class Revealer {
public:
  virtual ~Revealer() = default;
  virtual void reveal(const std::vector<std::filesystem::path> &files) = 0;
};

} // namespace kestrova::app
