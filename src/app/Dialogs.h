#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::app {

/// What a file chooser offers.
struct OpenFilesRequest {
  std::string title;                   ///< "Select 3D Video Files"
  std::vector<std::string> extensions; ///< lower case, without the dot
  bool multipleSelection = true;
  /// The folder the chooser shows first; absent leaves it to the toolkit.
  std::optional<std::filesystem::path> startDirectory;
};

/// What a directory chooser offers.
struct ChooseDirectoryRequest {
  std::string title; ///< "Select Output Directory"
  bool canCreateDirectories = true;
  /// The folder the chooser shows first (the current output folder).
  std::optional<std::filesystem::path> startDirectory;
};

/// Modal choosers and questions of the desktop toolkit. Each blocks until the
/// user answers; a cancelled chooser returns an empty list or nothing.
class Dialogs {
public:
  virtual ~Dialogs() = default;
  virtual std::vector<std::filesystem::path> openFiles(const OpenFilesRequest &request) = 0;
  virtual std::optional<std::filesystem::path> chooseDirectory(const ChooseDirectoryRequest &request) = 0;
  /// Asks whether `existing` may be replaced; true only on an explicit yes.
  virtual bool confirmReplace(const std::vector<std::filesystem::path> &existing) = 0;
};

} // namespace kestrova::app
