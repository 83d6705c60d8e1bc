#include "pipeline/EncoderTable.h"

#include "tools/Process.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

namespace kestrova::pipeline {

EncoderTable EncoderTable::probe(const std::string &ffmpegPath) {
  try {
    tools::ProcessLaunch launch;
    launch.executable = ffmpegPath;
    launch.arguments = {"-hide_banner", "-encoders"};
    launch.standardError = tools::StreamMode::discard;
    auto output = tools::runAndCollect(launch);
    return EncoderTable(output.standardOutput.find("hevc_videotoolbox") != std::string::npos &&
                        output.standardOutput.find("h264_videotoolbox") != std::string::npos);
  } catch (const tools::LaunchError &) {
    return EncoderTable(false);
  }
}

int EncoderTable::crfFor(int quality, bool hevc) {
  // The four presets' VideoToolbox values (85, 80, 65, 45) land on four
  // distinct rate points; x265 needs a few CRF steps more than x264 for a
  // similar size. Values between follow the same line.
  switch (quality) {
  case 85:
    return hevc ? 20 : 18;
  case 80:
    return hevc ? 23 : 21;
  case 65:
    return hevc ? 26 : 24;
  case 45:
    return hevc ? 31 : 29;
  default:
    break;
  }
  double crf = (hevc ? 44.0 : 42.0) - 0.28 * quality;
  return static_cast<int>(std::lround(std::clamp(crf, 0.0, 51.0)));
}

const char *EncoderTable::speedPresetFor(bool hevc) {
  return hevc ? "fast" : "medium";
}

std::vector<std::string> EncoderTable::translate(std::vector<std::string> arguments) const {
  if (hasVideoToolbox_)
    return arguments;
  std::vector<std::string> out;
  out.reserve(arguments.size() + 2);
  std::optional<bool> pendingQualityForHevc; // set after a VideoToolbox "-c:v"
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string &argument = arguments[i];
    if (argument == "h264_videotoolbox" || argument == "hevc_videotoolbox") {
      bool hevc = argument == "hevc_videotoolbox";
      out.push_back(hevc ? "libx265" : "libx264");
      pendingQualityForHevc = hevc;
      continue;
    }
    // A VideoToolbox-only switch; the software encoders refuse it outright.
    if (argument == "-realtime" && i + 1 < arguments.size()) {
      ++i;
      continue;
    }
    int quality = 0;
    if (argument == "-q:v" && pendingQualityForHevc && i + 1 < arguments.size() &&
        std::from_chars(arguments[i + 1].data(), arguments[i + 1].data() + arguments[i + 1].size(), quality).ec ==
            std::errc()) {
      bool hevc = *pendingQualityForHevc;
      out.insert(out.end(), {"-crf", std::to_string(crfFor(quality, hevc)), "-preset", speedPresetFor(hevc)});
      ++i;
      pendingQualityForHevc.reset();
      continue;
    }
    out.push_back(argument == "aac_at" ? "aac" : argument);
  }
  return out;
}

} // namespace kestrova::pipeline
