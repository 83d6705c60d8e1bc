#pragma once

#include "support/TestSupport.h"
#include "tools/Process.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kestrova::streaming::test {

/// A private installation: <root>/share/kestrova/tools holding copies of the
/// built helpers and, unless asked otherwise, the JM decoder's double as
/// "ldecod". Tests never add files to the shared build tree.
class ToolsFolder {
public:
  explicit ToolsFolder(bool withDecoder = true);
  std::filesystem::path tool(const std::string &name) const { return tools_ / name; }
  /// Replaces the decoder with a script (a body for bash).
  void setDecoderScript(const std::string &body) const;
  std::filesystem::path work() const { return root_.path() / "work"; }

private:
  kestrova::test::TempDir root_;
  std::filesystem::path tools_;
};

/// Runs `command` with bash in `directory`; collects both streams.
tools::CollectedOutput runShell(const std::string &command, const std::filesystem::path &directory);

/// Single-quotes `text` for bash.
std::string quoted(const std::string &text);

/// The frame counter the decoder's double burns into the top rows of a luma
/// plane `width` wide (cells of 4 x 4, bit set when brighter than mid-grey).
long frameCounter(const std::uint8_t *luma, int width);

/// Reads the frames of a planar 4:2:0 file (or raw output) as counters and
/// mean luma of a region; the left half of a double-width frame when `halfWidth`.
struct FrameLabel {
  long counter;
  int meanLuma;
};
std::vector<FrameLabel> labelFrames(const std::string &yuv, int width, int height, int regionOffset = 0);

} // namespace kestrova::streaming::test
