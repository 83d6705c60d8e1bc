#include "SubtitleBurnIn.h"

namespace kestrova::pipeline {

std::vector<std::string> burnInArguments(const SubtitleBurnIn &burnIn) {
  std::vector<std::string> arguments{"--subtitles", burnIn.track.string()};
  if (!burnIn.offsets.empty()) {
    arguments.insert(arguments.end(), {"--subtitle-offsets", burnIn.offsets.string()});
  }
  if (burnIn.plane) {
    arguments.insert(arguments.end(), {"--subtitle-plane", std::to_string(*burnIn.plane)});
  }
  arguments.insert(arguments.end(), {"--subtitle-depth", std::to_string(burnIn.fixedDepth)});
  return arguments;
}

std::vector<std::string> stackerBurnInArguments(const std::optional<SubtitleBurnIn> &burnIn, std::int64_t frameRateNum,
                                                std::int64_t frameRateDen) {
  if (!burnIn) {
    return {};
  }
  std::vector<std::string> arguments{"--frame-rate", std::to_string(frameRateNum) + "/" + std::to_string(frameRateDen)};
  const auto subtitles = burnInArguments(*burnIn);
  arguments.insert(arguments.end(), subtitles.begin(), subtitles.end());
  return arguments;
}

std::optional<std::string> burnInRefusal(MvcVariant variant) {
  switch (variant) {
  case MvcVariant::diskBased:
    return "burning subtitles in needs the streaming decoder and yuv_hstack; the disk-based road (YUV files "
           "stacked by ffmpeg) cannot place them, so the conversion stops rather than drop them";
  case MvcVariant::parallel:
  case MvcVariant::dualSplitParallel:
    return "burning subtitles in is not done on the segment-parallel road, whose pieces do not know their place "
           "in the film; with edge264-pipe the FIFO road burns them in (or convert with --subtitles none)";
  case MvcVariant::fifo:
  case MvcVariant::pipeFromFile:
    break;
  }
  return std::nullopt;
}

} // namespace kestrova::pipeline
