#include "pipeline/EncoderParameters.h"

#include <algorithm>

namespace kestrova::pipeline {

bool hasExtension(const std::filesystem::path &path, std::string_view extension) {
  std::string actual = path.extension().string();
  if (actual.empty())
    return false;
  actual.erase(0, 1);
  std::transform(actual.begin(), actual.end(), actual.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return actual == extension;
}

bool usesHevc(const std::filesystem::path &output, OutputCodec codec) {
  return hasExtension(output, "mov") || codec == OutputCodec::h265;
}

int qualityValue(QualityPreset preset) {
  switch (preset) {
  case QualityPreset::ultraHigh:
    return 85;
  case QualityPreset::high:
    return 80;
  case QualityPreset::medium:
    return 65;
  case QualityPreset::low:
    return 45;
  }
  return 65;
}

std::optional<int> rateCapMbps(QualityPreset preset) {
  switch (preset) {
  case QualityPreset::ultraHigh:
    return 35;
  case QualityPreset::high:
    return 30;
  default:
    return std::nullopt;
  }
}

std::vector<std::string> videoArguments(QualityPreset preset, OutputCodec codec, const std::filesystem::path &output) {
  std::string quality = std::to_string(qualityValue(preset));
  std::vector<std::string> arguments;
  if (usesHevc(output, codec))
    arguments = {
        "-c:v", "hevc_videotoolbox", "-q:v", quality, "-tag:v", "hvc1", "-metadata:s:v:0", "stereo_mode=left_right"};
  else
    arguments = {"-c:v", "h264_videotoolbox", "-q:v", quality, "-metadata:s:v:0", "stereo_mode=left_right"};
  if (auto cap = rateCapMbps(preset)) {
    arguments.insert(arguments.end(),
                     {"-maxrate", std::to_string(*cap) + "M", "-bufsize", std::to_string(2 * *cap) + "M"});
  }
  if (hasExtension(output, "mov"))
    arguments.insert(arguments.end(), {"-movflags", "+faststart"});
  return arguments;
}

std::string spatialQualityText(QualityPreset preset) {
  switch (preset) {
  case QualityPreset::ultraHigh:
    return "0.88";
  case QualityPreset::high:
    return "0.85";
  case QualityPreset::medium:
    return "0.7";
  case QualityPreset::low:
    return "0.5";
  }
  return "0.7";
}

std::optional<int> spatialRateCapMbps(QualityPreset preset) {
  switch (preset) {
  case QualityPreset::ultraHigh:
    return 35;
  case QualityPreset::high:
    return 25;
  default:
    return std::nullopt;
  }
}

} // namespace kestrova::pipeline
