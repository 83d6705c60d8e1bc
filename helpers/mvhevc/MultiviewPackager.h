#pragma once

#include "MovWriter.h"
#include "NalUnit.h"
#include "ParameterSets.h"
#include "ViewEncoder.h"

#include <span>
#include <stdexcept>
#include <vector>

namespace kestrova::mvhevc {

/// Thrown when the encoder's output does not have the two layers' structure.
class StructureError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// One access unit of the two-layer stream, as a movie sample.
struct MergedAccessUnit {
  std::vector<NalBytes> nals;
  VideoSampleInfo info;
};

/// Turns x265's two-layer access units into the samples the movie holds: parameter sets only
/// in the sample entry, PPSs without extra slice header bits (and the slices to match), and
/// the 3D reference displays message in place of x265's own multiview messages.
class MultiviewPackager {
public:
  /// `headers` are the encoder's parameter sets of both layers. Throws StructureError when one
  /// is missing, BitstreamError for syntax this program does not follow.
  explicit MultiviewPackager(std::span<const NalBytes> headers);

  /// The sample of one access unit (NAL units of both layers in decoding order).
  MergedAccessUnit package(const CodedPicture &picture) const;

  /// Fills the parameter sets of the sample entry.
  void describe(VideoTrackSetup &setup) const;

private:
  struct Layer {
    SpsInfo sps;
    PpsInfo pps; ///< as the encoder wrote it, with its extra bits
    NalBytes spsNal, ppsNal;
  };
  NalBytes vps_, sei_;
  Layer layers_[2];
};

} // namespace kestrova::mvhevc
