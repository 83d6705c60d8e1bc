#include "pipeline/PackedFrames.h"

#include <fmt/format.h>

namespace kestrova::pipeline {

namespace {

bool isTopAndBottom(const Stereo3DMode &mode) {
  return mode.kind() == Stereo3DMode::Kind::topAndBottom;
}
bool isHalf(const Stereo3DMode &mode) {
  return mode.eyeSize() == Stereo3DMode::EyeSize::half;
}

} // namespace

std::string sideBySideFilter(const Stereo3DMode &mode) {
  const bool topAndBottom = isTopAndBottom(mode);
  const std::string regions[2] = {topAndBottom ? "crop=iw:ih/2:0:0" : "crop=iw/2:ih:0:0",
                                  topAndBottom ? "crop=iw:ih/2:0:ih/2" : "crop=iw/2:ih:iw/2:0"};
  // An eye's shape: the whole picture's when that looks like one eye (the
  // pixels flagged for a 2D player), else the eye's share of it (flagged for
  // the packed pair). scale keeps the region's shape, which setdar then
  // corrects; the region is half the picture, so its shape is half (side by
  // side) or twice (top and bottom) the picture's.
  std::string grow = isHalf(mode) ? (topAndBottom ? ",scale=iw:ih*2" : ",scale=iw*2:ih") : "";
  grow += topAndBottom ? ",setdar='if(gt(dar/2,1.25),dar/2,dar)'" : ",setdar='if(lt(dar*2,2.5),dar*2,dar)'";
  const std::string &leftEye = regions[mode.rightFirst() ? 1 : 0];
  const std::string &rightEye = regions[mode.rightFirst() ? 0 : 1];
  return fmt::format("[0:v]split=2[a][b];[a]{0}{1}[left];[b]{2}{1}[right];[left][right]hstack=inputs=2[sbs]", leftEye,
                     grow, rightEye);
}

std::vector<std::string> converterLayoutArguments(const Stereo3DMode &mode) {
  if (mode == Stereo3DMode::sideBySide())
    return {};
  const std::string layout = fmt::format("{}-{}", isHalf(mode) ? "half" : "full", isTopAndBottom(mode) ? "tab" : "sbs");
  return {"--layout", layout, "--eye-order", mode.rightFirst() ? "right-first" : "left-first"};
}

} // namespace kestrova::pipeline
