#pragma once

#include "core/Records.h"
#include "core/Stereo3DMode.h"

namespace kestrova::pipeline {

/// The layout a conversion of `job` reads its source as: the detected one for
/// the automatic layout, the given one where a road exists for it, with the
/// eyes swapped when the job says so. Throws SourceError naming the file when
/// the given layout cannot be honoured, saying whether that is not supported
/// yet or contradicts what the file holds; nothing is converted then rather
/// than something other than what was asked. The eye swap applies to every
/// layout.
Stereo3DMode layoutForJob(const ConversionJob &job, const Stereo3DMode &detected);

/// Whether the first view the decoder gives is the right eye: `layout` says
/// so (a block_rl track, or eyes the user swapped), or a disc marks its base
/// view as the right eye (`baseViewIsRight`); both together cancel out.
inline bool firstViewIsRight(const Stereo3DMode &layout, bool baseViewIsRight) {
  return layout.rightFirst() != baseViewIsRight;
}

} // namespace kestrova::pipeline
