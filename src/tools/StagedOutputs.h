#pragma once

#include "core/Errors.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::tools {

/// The longest file name (in bytes) the file systems users have accept.
inline constexpr std::size_t kMaxFileNameBytes = 255;

/// The name under which `finalPath` is written until it is complete: hidden,
/// in the same folder (so the final rename stays on one file system), with
/// the same extension (tools choose the container by it):
/// "." + token + "-" + final name. When that would pass kMaxFileNameBytes,
/// the stem is shortened at a character boundary and followed by "~" and
/// eight hex digits made from the whole final name, so a temporary name
/// never fails where the final name would not, and two final names do not
/// share one.
std::filesystem::path temporaryOutputPath(const std::filesystem::path &finalPath, std::string_view token);

/// A finished output that could not be given its final name, or is not
/// there: `what()` names it and says why.
class CommitError : public Error {
public:
  explicit CommitError(const std::string &text);
};

/// Outputs written under temporary names and given their final names only
/// when the whole run succeeded. Whatever was not committed is removed on
/// destruction, with the partial copies tools keep of it
/// (".TEMPORARY.partial-PID"), so a failed or cancelled run leaves nothing under a final
/// name and no temporary file either.
class StagedOutputs {
public:
  /// `token` makes the temporary names of this run; with `replaceExisting`
  /// off, committing never replaces a file that appeared meanwhile.
  StagedOutputs(std::string token, bool replaceExisting);
  ~StagedOutputs();
  StagedOutputs(const StagedOutputs &) = delete;
  StagedOutputs &operator=(const StagedOutputs &) = delete;

  /// Registers `finalPath` and returns the temporary path to write instead.
  /// Registering the same path again returns the same temporary path.
  std::filesystem::path stage(const std::filesystem::path &finalPath);

  /// Gives every staged file its final name, in the order staged. Before
  /// any rename, each staged file must exist as a non-empty regular file;
  /// after them, each final name must exist. Throws
  /// ConversionError::encodingFailed for an empty file (a tool that wrote
  /// nothing), OutputExistsError when a final name is taken and replacing is
  /// off, and CommitError naming the file otherwise (a missing temporary
  /// file, an output folder moved or removed meanwhile, a rename refused:
  /// then the finished file is kept under its temporary name, which the
  /// message gives).
  void commit();

private:
  /// Removes what a tool left of its own partial copy of `temporaryPath`.
  void removeToolPartials(const std::filesystem::path &temporaryPath) const;

  struct Entry {
    std::filesystem::path finalPath;
    std::filesystem::path temporaryPath;
    bool committed = false;
    bool kept = false; ///< finished but left under its temporary name, as the error said
  };
  std::string token_;
  bool replaceExisting_;
  std::vector<Entry> entries_;
};

} // namespace kestrova::tools
