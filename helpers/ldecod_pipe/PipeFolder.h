#pragma once

#include "ViewPairPump.h"

#include <filesystem>
#include <string>

namespace kestrova::helpers {

/// A private folder holding the named pipes the decoder reads and writes:
/// its input and its two view files. Created beside `outputFile` (the
/// current folder when that has no folder part) and removed, with
/// everything in it, on destruction.
class PipeFolder {
public:
  /// Throws PumpError when the folder or a pipe cannot be made.
  explicit PipeFolder(const std::string &outputFile);
  ~PipeFolder();
  PipeFolder(const PipeFolder &) = delete;
  PipeFolder &operator=(const PipeFolder &) = delete;

  /// What to give the decoder as InputFile and OutputFile.
  std::string inputPath() const { return (path_ / "in.264").string(); }
  std::string outputName() const { return (path_ / "out.yuv").string(); }

  /// Opens `source` and this folder's pipes for the pump, none of them
  /// blocking and none inherited by the decoder. Throws PumpError.
  PumpEndpoints openEndpoints(const std::string &source) const;

private:
  std::filesystem::path path_;
};

} // namespace kestrova::helpers
