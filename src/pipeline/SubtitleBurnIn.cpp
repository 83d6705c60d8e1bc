#include "SubtitleBurnIn.h"

namespace kestrova::pipeline {

std::vector<std::string> burnInArguments(const SubtitleBurnIn &burnIn, std::int64_t firstFrame) {
  std::vector<std::string> arguments{"--subtitles", burnIn.track.string()};
  if (!burnIn.offsets.empty()) {
    arguments.insert(arguments.end(), {"--subtitle-offsets", burnIn.offsets.string()});
  }
  if (burnIn.plane) {
    arguments.insert(arguments.end(), {"--subtitle-plane", std::to_string(*burnIn.plane)});
  }
  arguments.insert(arguments.end(), {"--subtitle-depth", std::to_string(burnIn.fixedDepth)});
  if (firstFrame > 0) {
    arguments.insert(arguments.end(), {"--subtitle-first-frame", std::to_string(firstFrame)});
  }
  return arguments;
}

std::vector<std::string> stackerBurnInArguments(const std::optional<SubtitleBurnIn> &burnIn, std::int64_t frameRateNum,
                                                std::int64_t frameRateDen, std::int64_t firstFrame) {
  if (!burnIn) {
    return {};
  }
  std::vector<std::string> arguments{"--frame-rate", std::to_string(frameRateNum) + "/" + std::to_string(frameRateDen)};
  const auto subtitles = burnInArguments(*burnIn, firstFrame);
  arguments.insert(arguments.end(), subtitles.begin(), subtitles.end());
  return arguments;
}

} // namespace kestrova::pipeline
