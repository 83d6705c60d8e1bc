#pragma once

#include "MovWriter.h"
#include "NalUnit.h"
#include "ParameterSets.h"
#include "SliceRewriter.h"
#include "ViewEncoder.h"

#include <optional>
#include <stdexcept>
#include <vector>

namespace kestrova::mvhevc {

/// Thrown when the two single-layer encodes do not line up picture for picture.
class StructureError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// One access unit of the two-layer stream.
struct MergedAccessUnit {
  std::vector<NalBytes> nals;
  VideoSampleInfo info;
};

/// Joins the two single-layer encodes into one two-layer stream: the left view is layer 0
/// unchanged, described by a multiview VPS; the right view becomes layer 1 with its own
/// parameter set ids and rewritten slice headers. Samples carry no parameter sets.
class LayerMerger {
public:
  /// Merges the pictures at the same place in decoding order of both views. The first pair
  /// must be an IDR picture carrying its parameter sets.
  MergedAccessUnit merge(const CodedPicture &left, const CodedPicture &right);

  /// Fills the parameter sets of the sample entry; valid after the first merge.
  void describe(VideoTrackSetup &setup) const;

private:
  void start(const CodedPicture &left, const CodedPicture &right);

  struct Layers {
    SpsInfo baseSps;
    NalBytes vps, sps0, pps0, sei, sps1, pps1;
    std::optional<SliceRewriter> rewriter;
  };
  std::optional<Layers> layers_;
};

} // namespace kestrova::mvhevc
