#pragma once

#include "core/Log.h"
#include "core/Stereo3DMode.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrova::analysis {

/// What the 3D rules conclude about a source.
struct StereoDecision {
  Stereo3DMode mode = Stereo3DMode::none();
  bool hasMVCStream = false;
  std::optional<std::int64_t> mvcTrackIndex;
};

/// The two-phase 3D rules: `visit` runs the per-stream rules (stereo_mode tag,
/// then Stereo 3D side data) on every stream in report order; `decide` runs
/// once after the last stream over the video streams collected meanwhile.
/// Side-by-side and top-and-bottom declarations keep their eye order
/// (right_left, bottom_top, inverted side data); the first video stream's
/// shape says whether the eyes are full or half size. Without a declaration
/// only a frame 2.8 to 4 times as wide as high counts (full side by side).
class StereoDetector {
public:
  explicit StereoDetector(LogFn log) : log_(std::move(log)) {}

  /// Per-stream rules; every stream counts, whatever its type.
  void visit(const nlohmann::json &stream);
  /// Remembers a video stream (in report order) for the decision.
  void addVideoStream(const nlohmann::json &stream) { videoStreams_.push_back(stream); }
  /// The decision after the last stream.
  StereoDecision decide() const;

private:
  void say(const std::string &line) const {
    if (log_)
      log_(line);
  }
  std::optional<StereoDecision> separateTrackMvc() const;
  /// A packing the container declares, with half-size eyes when the
  /// picture's shape says so.
  Stereo3DMode withEyeSize(const Stereo3DMode &declared) const;

  LogFn log_;
  Stereo3DMode mode_ = Stereo3DMode::none();
  std::vector<nlohmann::json> videoStreams_;
};

} // namespace kestrova::analysis
