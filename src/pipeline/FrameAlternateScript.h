#pragma once

#include "core/OutputOptions.h"
#include "pipeline/EncoderTable.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kestrova::pipeline {

/// What the frame-alternate script needs to know.
struct FrameAlternateScriptInput {
  std::string ffmpegPath;
  std::filesystem::path source;
  std::filesystem::path scriptFolder;
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

/// The bash script that splits even and odd frames into the two eyes and
/// stacks them side by side, left eye on the left. Every path is quoted so
/// that no file name can run a command; the encoder words go through `table`.
std::string frameAlternateScript(const FrameAlternateScriptInput &input, const EncoderTable &table);

} // namespace kestrova::pipeline
