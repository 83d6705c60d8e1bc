#include "ViewEncoder.h"

#include <x265.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kestrova::mvhevc {

struct ViewEncoder::State {
  x265_param *param = nullptr;
  x265_encoder *encoder = nullptr;
  x265_picture *input = nullptr;
  x265_picture *output = nullptr;
  bool keepReconstruction = false;

  ~State() {
    if (encoder != nullptr) {
      x265_encoder_close(encoder);
    }
    if (input != nullptr) {
      x265_picture_free(input);
    }
    if (output != nullptr) {
      x265_picture_free(output);
    }
    if (param != nullptr) {
      x265_param_free(param);
    }
  }
};

std::vector<std::uint8_t> lumaOf(const std::uint8_t *plane, int stride, int width, int height) {
  std::vector<std::uint8_t> luma;
  luma.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    const auto *row = plane + static_cast<std::ptrdiff_t>(y) * stride;
    luma.insert(luma.end(), row, row + width);
  }
  return luma;
}

double crfForQuality(double quality) {
  return std::clamp(43.0 - 28.0 * quality, 0.0, 51.0);
}

NalBytes withoutStartCode(const x265_nal &nal) {
  const auto *begin = nal.payload;
  const auto *end = nal.payload + nal.sizeBytes;
  while (begin < end && *begin == 0) {
    ++begin;
  }
  if (begin < end && *begin == 1) {
    ++begin;
  }
  return NalBytes(begin, end);
}

namespace {

void set(x265_param *param, const char *name, const std::string &value) {
  if (x265_param_parse(param, name, value.c_str()) != 0) {
    throw EncoderError("libx265 rejected " + std::string(name) + "=" + value);
  }
}

CodedPicture codedPicture(const x265_nal *nals, std::uint32_t count, const x265_picture &picture,
                          const x265_param &param, bool keepReconstruction) {
  CodedPicture coded;
  for (std::uint32_t i = 0; i < count; ++i) {
    coded.nals.push_back(withoutStartCode(nals[i]));
  }
  coded.pts = picture.pts;
  coded.keyframe = IS_X265_TYPE_I(picture.sliceType);
  if (keepReconstruction) {
    coded.reconstructedLuma = {lumaOf(static_cast<const std::uint8_t *>(picture.planes[0]), picture.stride[0],
                                      param.sourceWidth, param.sourceHeight)};
  }
  return coded;
}

} // namespace

void applyEncoderSettings(x265_param *param, const EncoderSettings &settings) {
  if (x265_param_default_preset(param, settings.preset.c_str(), nullptr) != 0) {
    throw EncoderError("libx265 does not know the preset " + settings.preset);
  }
  param->sourceWidth = settings.width;
  param->sourceHeight = settings.height;
  param->fpsNum = static_cast<std::uint32_t>(settings.frameRateNum);
  param->fpsDenom = static_cast<std::uint32_t>(settings.frameRateDen);
  param->internalCsp = X265_CSP_I420;
  param->logLevel = X265_LOG_ERROR;
  const auto keyint = std::to_string(settings.keyframeInterval);
  // Both views must come out with the same picture types, POCs and decoding order.
  set(param, "keyint", keyint);
  set(param, "min-keyint", keyint);
  set(param, "scenecut", "0");
  set(param, "open-gop", "0");
  set(param, "b-adapt", "0");
  set(param, "temporal-layers", "0");
  set(param, "annexb", "1");
  set(param, "info", "0");
  set(param, "aud", "0");
  set(param, "hrd", "0");
  set(param, "log2-max-poc-lsb", "8");
  // Main tier: players size their decoders by it. With a cap above a level's Main tier limit
  // the encoder picks the next level rather than High tier.
  set(param, "high-tier", "0");
  set(param, "crf", std::to_string(settings.crf));
  // Memory: each picture waiting in the lookahead or encoded in parallel is held at full size
  // per layer; with the presets' 20-40 pictures a 1080p two-view conversion passed 850 MB. A
  // short lookahead and one frame thread keep it under 600 MiB, at some cost in compression.
  set(param, "rc-lookahead", std::to_string(std::min(param->lookaheadDepth, 5)));
  set(param, "bframes", std::to_string(std::min(param->bframes, 3)));
  set(param, "frame-threads", "1");
  if (settings.maxRateKbps) {
    // A one-second buffer keeps the level the cap needs as low as the rate allows.
    set(param, "vbv-maxrate", std::to_string(*settings.maxRateKbps));
    set(param, "vbv-bufsize", std::to_string(*settings.maxRateKbps));
  }
  for (const auto &[name, value] : settings.x265Options) {
    set(param, name.c_str(), value);
  }
}

ViewEncoder::ViewEncoder(const EncoderSettings &settings) : state_(std::make_unique<State>()) {
  auto &s = *state_;
  s.param = x265_param_alloc();
  if (s.param == nullptr) {
    throw EncoderError("libx265 could not allocate its settings");
  }
  applyEncoderSettings(s.param, settings);
  s.keepReconstruction = settings.keepReconstruction;
  set(s.param, "repeat-headers", "1");
  s.encoder = x265_encoder_open(s.param);
  if (s.encoder == nullptr) {
    throw EncoderError("libx265 could not open an encoder for " + std::to_string(settings.width) + "x" +
                       std::to_string(settings.height));
  }
  s.input = x265_picture_alloc();
  s.output = x265_picture_alloc();
  x265_picture_init(s.param, s.input);
  x265_picture_init(s.param, s.output);
}

ViewEncoder::~ViewEncoder() = default;

void ViewEncoder::encode(const PlanarPicture &picture, std::int64_t pts, std::vector<CodedPicture> &out) {
  auto &s = *state_;
  for (int plane = 0; plane < 3; ++plane) {
    // libx265 only reads the planes; its API is not const-correct.
    s.input->planes[plane] = const_cast<std::uint8_t *>(picture.planes[plane]);
    s.input->stride[plane] = picture.strides[plane];
  }
  s.input->pts = pts;
  s.input->sliceType = X265_TYPE_AUTO;
  x265_nal *nals = nullptr;
  std::uint32_t count = 0;
  const int result = x265_encoder_encode(s.encoder, &nals, &count, s.input, s.output);
  if (result < 0) {
    throw EncoderError("libx265 failed to encode picture " + std::to_string(pts));
  }
  if (result > 0) {
    out.push_back(codedPicture(nals, count, *s.output, *s.param, s.keepReconstruction));
  }
}

bool ViewEncoder::flushOne(std::vector<CodedPicture> &out) {
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
  out.push_back(codedPicture(nals, count, *s.output, *s.param, s.keepReconstruction));
  return true;
}

void ViewEncoder::flush(std::vector<CodedPicture> &out) {
  while (flushOne(out)) {
  }
}

} // namespace kestrova::mvhevc
