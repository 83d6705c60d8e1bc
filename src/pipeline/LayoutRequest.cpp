#include "pipeline/LayoutRequest.h"

#include "core/Errors.h"

#include <fmt/format.h>

namespace kestrova::pipeline {

namespace {

using Kind = Stereo3DMode::Kind;

bool isMvc(const Stereo3DMode &mode) {
  return mode.kind() == Kind::mvcSingleTrack || mode.kind() == Kind::mvcSeparateTracks;
}

[[noreturn]] void notSupportedYet(const ConversionJob &job, std::string_view what) {
  throw SourceError(fmt::format("{} is not supported yet; \"{}\" was not converted", what, job.sourceURL.string()));
}

Stereo3DMode givenLayout(const ConversionJob &job, const Stereo3DMode &detected) {
  switch (job.layout) {
  case StereoLayout::automatic:
    return detected;
  case StereoLayout::fullSideBySide:
    return Stereo3DMode::sideBySide();
  case StereoLayout::mvc:
    // An undetected layout is what a Matroska rip without 3D tags shows;
    // the MVC road looks for the view itself then.
    if (isMvc(detected) || detected.kind() == Kind::none)
      return detected;
    throw SourceError(fmt::format("\"{}\" holds no MVC (3D) view to read: it was detected as {}",
                                  job.sourceURL.string(), detected.text()));
  case StereoLayout::frameAlternate:
    if (detected.kind() == Kind::frameAlternate)
      return detected;
    notSupportedYet(job, "Reading a file as frame alternate that does not say so itself");
  case StereoLayout::halfSideBySide:
  case StereoLayout::fullTopAndBottom:
  case StereoLayout::halfTopAndBottom:
    break;
  }
  notSupportedYet(job, fmt::format("The layout \"{}\"", rawValue(job.layout)));
}

} // namespace

Stereo3DMode layoutForJob(const ConversionJob &job, const Stereo3DMode &detected) {
  Stereo3DMode mode = givenLayout(job, detected);
  if (!job.swapEyes)
    return mode;
  switch (mode.kind()) {
  case Kind::mvcSingleTrack:
    return Stereo3DMode::mvcSingleTrack(!mode.rightFirst());
  case Kind::frameAlternate:
    return Stereo3DMode::frameAlternate(!mode.rightFirst());
  case Kind::mvcSeparateTracks:
  case Kind::sideBySide:
  case Kind::none:
    break;
  }
  notSupportedYet(job, fmt::format("Swapping the eyes of a {} source", mode.text()));
}

} // namespace kestrova::pipeline
