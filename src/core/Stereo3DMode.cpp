#include "core/Stereo3DMode.h"

namespace kestrova {

std::string Stereo3DMode::text() const {
  const char *flag = rightFirst() ? "true" : "false";
  switch (kind_) {
  case Kind::mvcSingleTrack:
    return std::string("mvcSingleTrack(rightFirst: ") + flag + ")";
  case Kind::mvcSeparateTracks:
    return "mvcSeparateTracks";
  case Kind::frameAlternate:
    return std::string("frameAlternate(rightFirst: ") + flag + ")";
  case Kind::sideBySide:
    return "sideBySide";
  case Kind::none:
    return "none";
  }
  return "none";
}

} // namespace kestrova
