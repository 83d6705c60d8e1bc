#include "pipeline/FrameAlternateScript.h"

#include "pipeline/StreamDecodeRequest.h"

#include "pipeline/EncoderParameters.h"
#include "pipeline/ShellQuote.h"

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

std::string joined(const std::vector<std::string> &items) {
  std::string text;
  for (const auto &item : items)
    text += (text.empty() ? "" : " ") + item;
  return text;
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

std::string frameAlternateScript(const FrameAlternateScriptInput &in, const EncoderTable &table) {
  const char *even = in.rightFirst ? "right" : "left";
  const char *odd = in.rightFirst ? "left" : "right";
  std::string limit = in.durationLimit ? "-t " + std::to_string(*in.durationLimit) : "";
  std::string video = joined(table.translate(words(frameAlternateVideoArguments(in.preset, in.codec, in.output))));
  std::string audio = joined(table.translate(
      words(in.target == OutputTarget::visionPro ? "-c:a aac_at -b:a 448k -ac 6 -ar 48000" : "-c:a copy")));
  std::string script;
  script += "#!/bin/bash\n";
  script += "set -eo pipefail\n";
  script += "FFMPEG=" + shellQuote(in.ffmpegPath) + "\n";
  script += "SOURCE=" + shellQuote(in.source.string()) + "\n";
  script += "WORKDIR=" + shellQuote(in.scriptFolder.string()) + "\n";
  script += "\n";
  script += std::string("echo \"FA: Encoding frame-alternate \u2192 SBS (") +
            (in.rightFirst ? "right-first" : "left-first") + ")\"\n";
  script += "# Use ffmpeg filter_complex to:\n";
  script += "# - Split input into two streams\n";
  script += "# - Select even/odd frames for left/right eyes\n";
  script += "# - For block_rl: even=right, odd=left (swap)\n";
  script += "# - For block_lr: even=left, odd=right (normal)\n";
  script += "# - Horizontally stack them (always left|right)\n";
  script += "# The source framerate is 2x actual (e.g. 47.952 for 23.976 content)\n";
  script += "# After selecting every other frame, each eye is at the real framerate\n";
  script += "\"$FFMPEG\" -y " + limit + " -i \"$SOURCE\" \\\n";
  script += "    -filter_complex \"\n";
  script += "        [0:v]split[a][b];\n";
  script += std::string("        [a]select='not(mod(n\\,2))',setpts=N/FRAME_RATE/TB[") + even + "];\n";
  script += std::string("        [b]select='mod(n\\,2)',setpts=N/FRAME_RATE/TB[") + odd + "];\n";
  script += "        [left][right]hstack=inputs=2[sbs]\n";
  script += "    \" \\\n";
  script += "    -map \"[sbs]\" " + quotedWords(sourceTrackArguments(0, in.output)) + " \\\n";
  script += "    " + video + " \\\n";
  script += "    " + audio + " -shortest \\\n";
  script += "    -movflags +faststart \\\n";
  script += "    " + shellQuote(in.output.string()) + " 2>\"$WORKDIR/ffmpeg.log\"\n";
  script += "\n";
  script += "echo \"FA: Done\"";
  return script;
}

} // namespace kestrova::pipeline
