#include "analysis/StereoDetection.h"

#include "analysis/JsonFields.h"

#include <fmt/format.h>

namespace kestrova::analysis {

void StereoDetector::visit(const nlohmann::json &stream) {
  if (auto tag = stringField(objectField(stream, "tags"), "stereo_mode")) {
    say("  \u2192 stereo_mode tag: " + *tag);
    if (*tag == "block_lr")
      mode_ = Stereo3DMode::mvcSingleTrack(false);
    else if (*tag == "block_rl")
      mode_ = Stereo3DMode::mvcSingleTrack(true);
    else if (*tag == "left_right" || *tag == "right_left")
      mode_ = Stereo3DMode::sideBySide(Stereo3DMode::EyeSize::full, *tag == "right_left");
    else if (*tag == "top_bottom" || *tag == "bottom_top")
      mode_ = Stereo3DMode::topAndBottom(Stereo3DMode::EyeSize::full, *tag == "bottom_top");
  }
  // A container's MVC declaration outranks what the decoder's side data says.
  if (mode_.kind() == Stereo3DMode::Kind::mvcSingleTrack)
    return;
  auto sideData = stream.is_object() ? stream.find("side_data_list") : stream.end();
  if (!stream.is_object() || sideData == stream.end() || !isArrayOfObjects(*sideData))
    return;
  for (const auto &entry : *sideData) {
    if (stringField(entry, "side_data_type") != "Stereo 3D")
      continue;
    std::string type = stringField(entry, "type").value_or("");
    say("  \u2192 Stereo 3D side_data: type=" + type);
    // Matroska's right_left and bottom_top, and MP4's st3d, come as "inverted".
    const bool inverted = integerField(entry, "inverted").value_or(0) != 0;
    if (type.find("frame alternate") != std::string::npos)
      mode_ = Stereo3DMode::frameAlternate(false);
    else if (type.find("side by side") != std::string::npos)
      mode_ = Stereo3DMode::sideBySide(Stereo3DMode::EyeSize::full, inverted);
    else if (type.find("top and bottom") != std::string::npos)
      mode_ = Stereo3DMode::topAndBottom(Stereo3DMode::EyeSize::full, inverted);
  }
}

Stereo3DMode StereoDetector::withEyeSize(const Stereo3DMode &declared) const {
  // Containers say how the eyes are packed, not whether each is squeezed:
  // the shape of the picture tells. Two full eyes side by side make a frame
  // at least 2.5 times as wide as high (a 4:3 pair is 2.67); top and bottom
  // at most 1.25 times (a 2.39:1 pair is 1.2). Half-size eyes keep the shape
  // of one eye: 16:9 or 4:3, 2.39:1 at most.
  if (!declared.isPacked() || videoStreams_.empty())
    return declared;
  auto width = integerField(videoStreams_.front(), "width").value_or(0);
  auto height = integerField(videoStreams_.front(), "height").value_or(0);
  if (width < 1 || height < 1)
    return declared;
  double ratio = static_cast<double>(width) / static_cast<double>(height);
  bool sideBySide = declared.kind() == Stereo3DMode::Kind::sideBySide;
  bool half = sideBySide ? ratio < 2.5 : ratio > 1.25;
  if (!half)
    return declared;
  say(fmt::format("  \u2192 {}x{} (ratio {:.2f}): each eye at half {}", width, height, ratio,
                  sideBySide ? "width" : "height"));
  return sideBySide ? Stereo3DMode::sideBySide(Stereo3DMode::EyeSize::half, declared.rightFirst())
                    : Stereo3DMode::topAndBottom(Stereo3DMode::EyeSize::half, declared.rightFirst());
}

std::optional<StereoDecision> StereoDetector::separateTrackMvc() const {
  if (videoStreams_.size() < 2)
    return std::nullopt;
  bool profileSign = false, tagSign = false, zeroWidth = false;
  int h264Names = 0;
  for (const auto &stream : videoStreams_) {
    profileSign |= lowercased(stringField(stream, "profile").value_or("")).find("mvc") != std::string::npos;
    tagSign |= lowercased(stringField(stream, "codec_tag_string").value_or("")).find("mvc") != std::string::npos;
    zeroWidth |= integerField(stream, "width") == 0;
    h264Names += stringField(stream, "codec_name") == "h264";
  }
  bool dependentSign = zeroWidth && h264Names >= 2;
  auto flag = [](bool value) { return value ? "true" : "false"; };
  say(fmt::format("MVC detection: profile={} codecTag={} dependent={}", flag(profileSign), flag(tagSign),
                  flag(dependentSign)));
  if (!profileSign && !tagSign && !dependentSign)
    return std::nullopt;
  say("\u2705 MVC 3D stream detected!");
  StereoDecision decision{Stereo3DMode::mvcSeparateTracks(), true, std::nullopt};
  for (const auto &stream : videoStreams_) {
    bool matches = lowercased(stringField(stream, "profile").value_or("")).find("mvc") != std::string::npos ||
                   lowercased(stringField(stream, "codec_tag_string").value_or("")).find("mvc") != std::string::npos ||
                   integerField(stream, "width") == 0;
    if (matches) {
      decision.mvcTrackIndex = integerField(stream, "index");
      break;
    }
  }
  return decision;
}

StereoDecision StereoDetector::decide() const {
  std::optional<StereoDecision> decision = separateTrackMvc();
  if (!decision && mode_.kind() != Stereo3DMode::Kind::none)
    decision = StereoDecision{withEyeSize(mode_), true, std::nullopt};
  if (!decision && !videoStreams_.empty()) {
    auto width = integerField(videoStreams_.front(), "width");
    auto height = integerField(videoStreams_.front(), "height");
    if (width && height && *width >= 1 && *height >= 1) {
      double ratio = static_cast<double>(*width) / static_cast<double>(*height);
      if (ratio >= 2.8 && ratio <= 4.0) {
        say(fmt::format("\u2705 SBS detected by aspect ratio: {}x{} (ratio {:.2f})", *width, *height, ratio));
        decision = StereoDecision{Stereo3DMode::sideBySide(), true, std::nullopt};
      }
    }
  }
  if (!decision)
    return {};
  say("\u2705 3D detected: " + decision->mode.text());
  return *decision;
}

} // namespace kestrova::analysis
