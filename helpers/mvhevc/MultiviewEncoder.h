#pragma once

#include "ViewEncoder.h"

#include <memory>
#include <vector>

namespace kestrova::mvhevc {

/// x265's two-view encoder: the left view as layer 0, the right view as layer 1 predicted from
/// it. Parameter sets come once from headers(), not with the pictures.
class MultiviewEncoder {
public:
  /// Opens the encoder; `settings` describe one view. Throws EncoderError when libx265 rejects
  /// the settings.
  explicit MultiviewEncoder(const EncoderSettings &settings);
  ~MultiviewEncoder();
  MultiviewEncoder(const MultiviewEncoder &) = delete;
  MultiviewEncoder &operator=(const MultiviewEncoder &) = delete;

  /// The parameter sets and SEI messages of both layers, as libx265 writes them.
  std::vector<NalBytes> headers();
  /// Encodes one pair of pictures; libx265 copies them before returning. Appends finished
  /// access units (NAL units of both layers).
  void encode(const PlanarPicture &left, const PlanarPicture &right, std::int64_t pts, std::vector<CodedPicture> &out);
  /// Drains one access unit still in flight into `out`; false when none was left.
  bool flushOne(std::vector<CodedPicture> &out);

private:
  struct State;
  std::unique_ptr<State> state_;
};

} // namespace kestrova::mvhevc
