#pragma once

#include "ViewPairPump.h"
#include "tools/PrivateFolder.h"

#include <filesystem>
#include <string>

namespace kestrova::helpers {

/// A private folder holding the named pipes the decoder reads and writes:
/// its input and its two view files. Created beside `outputFile` (the
/// current folder when that has no folder part), or in a scratch folder
/// ($XDG_RUNTIME_DIR, $TMPDIR or /tmp) when the file system there has
/// no FIFOs (exFAT), and removed, with everything in it, on destruction.
/// The decoder runs inside it, so its own report files go with it.
class PipeFolder {
public:
  /// Throws PumpError when the folder or a pipe cannot be made.
  explicit PipeFolder(const std::string &outputFile);
  PipeFolder(const PipeFolder &) = delete;
  PipeFolder &operator=(const PipeFolder &) = delete;

  /// What to give the decoder, which runs inside the folder, as InputFile
  /// and OutputFile: names without the folder, because the decoder's
  /// parameter reader ends a value at a blank ("Kestrova Output").
  static constexpr const char *kInputName = "in.264";
  static constexpr const char *kOutputName = "out.yuv";
  const std::filesystem::path &path() const { return folder_->path(); }

  /// Opens `source` and this folder's pipes for the pump, none of them
  /// blocking and none inherited by the decoder. Throws PumpError.
  PumpEndpoints openEndpoints(const std::string &source) const;

private:
  std::optional<tools::PrivateFolder> folder_;
};

} // namespace kestrova::helpers
