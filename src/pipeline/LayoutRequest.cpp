#include "pipeline/LayoutRequest.h"

#include "core/Errors.h"

#include <fmt/format.h>

namespace kestrova::pipeline {

namespace {

using Kind = Stereo3DMode::Kind;
using EyeSize = Stereo3DMode::EyeSize;

bool isMvc(const Stereo3DMode &mode) {
  return mode.kind() == Kind::mvcSingleTrack || mode.kind() == Kind::mvcSeparateTracks;
}

// A packed layout the user names keeps the eye order the file declares for
// that same packing (a right_left tag), else starts with the left eye.
Stereo3DMode packed(Kind kind, EyeSize size, const Stereo3DMode &detected) {
  const bool rightFirst = detected.kind() == kind && detected.rightFirst();
  return kind == Kind::sideBySide ? Stereo3DMode::sideBySide(size, rightFirst)
                                  : Stereo3DMode::topAndBottom(size, rightFirst);
}

Stereo3DMode givenLayout(const ConversionJob &job, const Stereo3DMode &detected) {
  switch (job.layout) {
  case StereoLayout::automatic:
    return detected;
  case StereoLayout::fullSideBySide:
    return packed(Kind::sideBySide, EyeSize::full, detected);
  case StereoLayout::halfSideBySide:
    return packed(Kind::sideBySide, EyeSize::half, detected);
  case StereoLayout::fullTopAndBottom:
    return packed(Kind::topAndBottom, EyeSize::full, detected);
  case StereoLayout::halfTopAndBottom:
    return packed(Kind::topAndBottom, EyeSize::half, detected);
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
    // Matroska's block_lr and block_rl tags mark both an MVC track and a
    // frame-alternate one; the tag's eye order holds for either.
    if (detected.kind() == Kind::mvcSingleTrack)
      return Stereo3DMode::frameAlternate(detected.rightFirst());
    throw SourceError(fmt::format("Reading a file as frame alternate that does not say so itself is not supported "
                                  "yet; \"{}\" was not converted",
                                  job.sourceURL.string()));
  }
  return detected;
}

} // namespace

Stereo3DMode layoutForJob(const ConversionJob &job, const Stereo3DMode &detected) {
  Stereo3DMode mode = givenLayout(job, detected);
  // Every road reads the eye order from the mode: the MVC decoders' view
  // order, the frame-alternate split, the halves of a packed frame. A source
  // without a 3D layout keeps the swap for the MVC road it is sent down.
  return job.swapEyes ? mode.swapped() : mode;
}

} // namespace kestrova::pipeline
