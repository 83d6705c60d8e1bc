#pragma once

#include "NalUnit.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

struct x265_param;
struct x265_nal;

namespace kestrova::mvhevc {

/// Thrown when libx265 rejects its settings or fails to encode.
class EncoderError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// Settings shared by both views; identical settings give identical picture structures.
struct EncoderSettings {
  int width = 0; ///< one view's width
  int height = 0;
  int frameRateNum = 30;
  int frameRateDen = 1;
  double crf = 23;
  std::optional<int> maxRateKbps; ///< VBV cap for this view, none for plain CRF
  std::string preset = "medium";
  int keyframeInterval = 60;
  bool keepReconstruction = false; ///< fill CodedPicture::reconstructedLuma (for benchmarks)
  /// libx265 options (name, value) applied after all of the above, e.g. to reproduce older
  /// settings in a benchmark.
  std::vector<std::pair<std::string, std::string>> x265Options;
};

/// The bytes of an encoder NAL unit after its Annex B start code.
NalBytes withoutStartCode(const x265_nal &nal);

/// Applies `settings` to libx265 parameters (preset first): a fixed picture structure (equal
/// keyint and min-keyint, no scene cut, fixed B-frame placement, closed GOPs) and Main tier.
/// Throws EncoderError for a setting libx265 rejects.
void applyEncoderSettings(x265_param *param, const EncoderSettings &settings);

/// The luma plane of a libx265 output picture (its reconstruction), `width` x `height`.
std::vector<std::uint8_t> lumaOf(const std::uint8_t *plane, int stride, int width, int height);

/// QUALITY (0..1] to CRF: 0.88 -> 18.4, 0.85 -> 19.2, 0.7 -> 23.4, 0.5 -> 29.
double crfForQuality(double quality);

/// One 8-bit 4:2:0 picture as three plane pointers with their strides.
struct PlanarPicture {
  const std::uint8_t *planes[3] = {};
  int strides[3] = {};
};

/// One coded picture in decoding order.
struct CodedPicture {
  std::vector<NalBytes> nals; ///< without start codes
  std::int64_t pts = 0;       ///< the input picture's index
  bool keyframe = false;
  /// Per layer, the decoded luma (width x height, no padding), when the settings ask for it.
  std::vector<std::vector<std::uint8_t>> reconstructedLuma;
};

} // namespace kestrova::mvhevc
