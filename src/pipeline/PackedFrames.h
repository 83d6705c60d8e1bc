#pragma once

#include "core/Stereo3DMode.h"

#include <string>
#include <vector>

namespace kestrova::pipeline {

/// An ffmpeg filter graph that turns the packed pictures of input 0 (side by
/// side or top and bottom, as `mode` says) into full side-by-side pictures
/// labelled [sbs]: each eye cut out, scaled back to full size when the
/// layout halves it, the left eye on the left. Each eye is shown with the
/// shape of the whole picture when that shape is an eye's (side by side
/// below 2.5:1, top and bottom above 1.25:1), else with its share of it, so a
/// 1920x1080 half side-by-side source gives two 16:9 1920x1080 eyes whether
/// its pixels are flagged square or 2:1.
std::string sideBySideFilter(const Stereo3DMode &mode);

/// MVHEVCConverter's --layout and --eye-order for a packed source; empty for
/// a full side-by-side source with the left eye first.
std::vector<std::string> converterLayoutArguments(const Stereo3DMode &mode);

} // namespace kestrova::pipeline
