#pragma once

#include "core/OutputOptions.h"
#include "pipeline/EncoderTable.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::pipeline {

/// What the frame-alternate encode needs to know.
struct FrameAlternateEncode {
  std::filesystem::path source;
  std::filesystem::path output;
  bool rightFirst = false;
  QualityPreset preset = QualityPreset::medium;
  OutputCodec codec = OutputCodec::h264;
  OutputTarget target = OutputTarget::sbs3D;
  std::optional<std::int64_t> durationLimit;
};

/// The video argument line for the frame-alternate encode, written for
/// VideoToolbox (the caller's encoder table translates it).
std::string frameAlternateVideoArguments(QualityPreset preset, OutputCodec codec, const std::filesystem::path &output);

/// ffmpeg's arguments for one run that splits the source's even and odd
/// frames into the two eyes (even: the left eye, or the right when
/// `rightFirst`) and stacks them side by side, left eye on the left, into
/// `output` with the source's sound; the encoder words go through `table`.
std::vector<std::string> frameAlternateArguments(const FrameAlternateEncode &encode, const EncoderTable &table);

} // namespace kestrova::pipeline
