#include "MultiviewEncoder.h"

#include <x265.h>

namespace kestrova::mvhevc {

namespace {

constexpr int kViews = 2;

} // namespace

struct MultiviewEncoder::State {
  x265_param *param = nullptr;
  x265_encoder *encoder = nullptr;
  // x265 reads the views from consecutive pictures and writes each layer's to its own output.
  x265_picture input[kViews] = {};
  x265_picture output[MAX_LAYERS] = {};
  bool keepReconstruction = false;

  ~State() {
    if (encoder != nullptr) {
      x265_encoder_close(encoder);
    }
    if (param != nullptr) {
      x265_param_free(param);
    }
  }

  void collect(const x265_nal *nals, std::uint32_t count, std::vector<CodedPicture> &out) const {
    CodedPicture coded;
    for (std::uint32_t i = 0; i < count; ++i) {
      coded.nals.push_back(withoutStartCode(nals[i]));
    }
    coded.pts = output[0].pts;
    coded.keyframe = IS_X265_TYPE_I(output[0].sliceType);
    if (keepReconstruction) {
      for (const auto &layer : output) {
        coded.reconstructedLuma.push_back(lumaOf(static_cast<const std::uint8_t *>(layer.planes[0]), layer.stride[0],
                                                 param->sourceWidth, param->sourceHeight));
      }
    }
    out.push_back(std::move(coded));
  }
};

MultiviewEncoder::MultiviewEncoder(const EncoderSettings &settings) : state_(std::make_unique<State>()) {
  auto &s = *state_;
  s.param = x265_param_alloc();
  if (s.param == nullptr) {
    throw EncoderError("libx265 could not allocate its settings");
  }
  applyEncoderSettings(s.param, settings);
  s.keepReconstruction = settings.keepReconstruction;
  if (x265_param_parse(s.param, "num-views", "2") != 0 || x265_param_parse(s.param, "format", "0") != 0) {
    throw EncoderError("this libx265 has no two-view encoder");
  }
  s.param->numLayers = kViews;
  // The sample entry holds the parameter sets; pictures carry none.
  x265_param_parse(s.param, "repeat-headers", "0");
  s.encoder = x265_encoder_open(s.param);
  if (s.encoder == nullptr) {
    throw EncoderError("libx265 could not open a two-view encoder for " + std::to_string(settings.width) + "x" +
                       std::to_string(settings.height));
  }
  for (auto &picture : s.input) {
    x265_picture_init(s.param, &picture);
  }
  for (auto &picture : s.output) {
    x265_picture_init(s.param, &picture);
  }
}

MultiviewEncoder::~MultiviewEncoder() = default;

std::vector<NalBytes> MultiviewEncoder::headers() {
  x265_nal *nals = nullptr;
  std::uint32_t count = 0;
  if (x265_encoder_headers(state_->encoder, &nals, &count) < 0) {
    throw EncoderError("libx265 could not write its parameter sets");
  }
  std::vector<NalBytes> result;
  for (std::uint32_t i = 0; i < count; ++i) {
    result.push_back(withoutStartCode(nals[i]));
  }
  return result;
}

void MultiviewEncoder::encode(const PlanarPicture &left, const PlanarPicture &right, std::int64_t pts,
                              std::vector<CodedPicture> &out) {
  auto &s = *state_;
  const PlanarPicture *views[kViews] = {&left, &right};
  for (int view = 0; view < kViews; ++view) {
    for (int plane = 0; plane < 3; ++plane) {
      // libx265 only reads the planes; its API is not const-correct.
      s.input[view].planes[plane] = const_cast<std::uint8_t *>(views[view]->planes[plane]);
      s.input[view].stride[plane] = views[view]->strides[plane];
    }
    s.input[view].pts = pts;
    s.input[view].sliceType = X265_TYPE_AUTO;
  }
  x265_nal *nals = nullptr;
  std::uint32_t count = 0;
  const int result = x265_encoder_encode(s.encoder, &nals, &count, s.input, s.output);
  if (result < 0) {
    throw EncoderError("libx265 failed to encode picture " + std::to_string(pts));
  }
  if (result > 0) {
    s.collect(nals, count, out);
  }
}

bool MultiviewEncoder::flushOne(std::vector<CodedPicture> &out) {
  auto &s = *state_;
  x265_nal *nals = nullptr;
  std::uint32_t count = 0;
  const int result = x265_encoder_encode(s.encoder, &nals, &count, nullptr, s.output);
  if (result < 0) {
    throw EncoderError("libx265 failed while flushing");
  }
  if (result == 0) {
    return false;
  }
  s.collect(nals, count, out);
  return true;
}

} // namespace kestrova::mvhevc
