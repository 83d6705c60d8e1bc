#include "core/Stereo3DMode.h"

namespace kestrova {

std::string Stereo3DMode::text() const {
  const std::string order = std::string("(rightFirst: ") + (rightFirst_ ? "true" : "false") + ")";
  const std::string swappedOrder = rightFirst_ ? order : "";
  const bool half = size_ == EyeSize::half;
  switch (kind_) {
  case Kind::mvcSingleTrack:
    return "mvcSingleTrack" + order;
  case Kind::mvcSeparateTracks:
    return "mvcSeparateTracks" + swappedOrder;
  case Kind::frameAlternate:
    return "frameAlternate" + order;
  case Kind::sideBySide:
    return (half ? "halfSideBySide" : "sideBySide") + swappedOrder;
  case Kind::topAndBottom:
    return (half ? "halfTopAndBottom" : "topAndBottom") + swappedOrder;
  case Kind::none:
    return "none" + swappedOrder;
  }
  return "none";
}

} // namespace kestrova
