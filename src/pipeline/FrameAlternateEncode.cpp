#include "pipeline/FrameAlternateEncode.h"

#include "pipeline/StreamDecodeRequest.h"

#include "pipeline/EncoderParameters.h"

#include <sstream>

namespace kestrova::pipeline {

namespace {

std::vector<std::string> words(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string word; in >> word;)
    out.push_back(word);
  return out;
}

} // namespace

std::string frameAlternateVideoArguments(QualityPreset preset, OutputCodec codec, const std::filesystem::path &output) {
  std::string cap;
  if (auto mbps = rateCapMbps(preset))
    cap = " -maxrate " + std::to_string(*mbps) + "M -bufsize " + std::to_string(2 * *mbps) + "M";
  std::string quality = std::to_string(qualityValue(preset));
  if (usesHevc(output, codec))
    return "-c:v hevc_videotoolbox -q:v " + quality + cap +
           " -sc_threshold 0 -realtime 0 -tag:v hvc1 -metadata:s:v:0 stereo_mode=left_right";
  return "-c:v h264_videotoolbox -q:v " + quality + cap +
         " -sc_threshold 0 -realtime 0 -metadata:s:v:0 stereo_mode=left_right";
}

std::vector<std::string> frameAlternateArguments(const FrameAlternateEncode &encode, const EncoderTable &table) {
  const char *even = encode.rightFirst ? "right" : "left";
  const char *odd = encode.rightFirst ? "left" : "right";
  std::vector<std::string> arguments{"-y"};
  if (encode.durationLimit)
    arguments.insert(arguments.end(), {"-t", std::to_string(*encode.durationLimit)});
  // The source's rate is twice each eye's: every other frame is one eye, at half the rate
  // (framestep halves it; the pictures keep their times, so a pair lasts two source frames).
  arguments.insert(arguments.end(), {"-i", encode.source.string(), "-filter_complex",
                                     std::string("[0:v]split[a][b];[a]setpts=PTS-STARTPTS,framestep=2[") + even +
                                         "];[b]trim=start_frame=1,setpts=PTS-STARTPTS,framestep=2[" + odd +
                                         "];[left][right]hstack=inputs=2[sbs]",
                                     "-map", "[sbs]"});
  auto append = [&arguments](const std::vector<std::string> &more) {
    arguments.insert(arguments.end(), more.begin(), more.end());
  };
  append(sourceTrackArguments(0, encode.output));
  append(table.translate(words(frameAlternateVideoArguments(encode.preset, encode.codec, encode.output))));
  append(table.translate(words(streamAudioArguments(encode.target))));
  append(soundEndArguments(encode.output, std::nullopt));
  append({"-movflags", "+faststart", encode.output.string()});
  return arguments;
}

} // namespace kestrova::pipeline
