#pragma once

#include <string>
#include <vector>

namespace kestrova::pipeline {

/// Which encoders this machine's ffmpeg has, and the stand-ins for the
/// VideoToolbox encoders where it has none. Every ffmpeg argument list is
/// written for VideoToolbox and passed through translate(), so this is the
/// one place that knows about libx264/libx265.
class EncoderTable {
public:
  /// Asks `ffmpeg -encoders` whether the VideoToolbox encoders exist; a run
  /// that fails counts as "no".
  static EncoderTable probe(const std::string &ffmpegPath);
  /// A table for a platform with or without VideoToolbox.
  static EncoderTable forPlatform(bool hasVideoToolbox) { return EncoderTable(hasVideoToolbox); }

  bool hasVideoToolbox() const { return hasVideoToolbox_; }

  /// Rewrites an argument list written for VideoToolbox: "-c:v
  /// h264_videotoolbox" / "hevc_videotoolbox" become libx264 / libx265, the
  /// "-q:v Q" that follows becomes "-crf C -preset P" at the same place, and
  /// "aac_at" becomes "aac", and VideoToolbox's "-realtime V" is dropped (the
  /// software encoders refuse it). Every other argument keeps its order and value.
  /// Unchanged when VideoToolbox is there.
  std::vector<std::string> translate(std::vector<std::string> arguments) const;

  /// The CRF that stands in for a VideoToolbox quality value (0-100, higher
  /// is better) with libx264 (`hevc` false) or libx265.
  static int crfFor(int quality, bool hevc);
  /// The speed preset used with libx264 / libx265.
  static const char *speedPresetFor(bool hevc);

private:
  explicit EncoderTable(bool hasVideoToolbox) : hasVideoToolbox_(hasVideoToolbox) {}
  bool hasVideoToolbox_;
};

} // namespace kestrova::pipeline
