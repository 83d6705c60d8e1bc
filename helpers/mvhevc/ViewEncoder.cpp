#include "ViewEncoder.h"

#include <x265.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kestrova::mvhevc {

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

} // namespace kestrova::mvhevc
