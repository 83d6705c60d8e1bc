#pragma once

#include "core/OutputOptions.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::pipeline {

/// HEVC for a .mov output (any letter case) or the h265 codec; H.264 otherwise.
bool usesHevc(const std::filesystem::path &output, OutputCodec codec);

/// The -q:v value of a preset: 85, 80, 65, 45.
int qualityValue(QualityPreset preset);

/// The rate cap of a preset in Mbit/s (35, 30, none, none).
std::optional<int> rateCapMbps(QualityPreset preset);

/// The encoder arguments for an SBS output, written for VideoToolbox:
/// codec group, rate cap, then "-movflags +faststart" for .mov.
std::vector<std::string> videoArguments(QualityPreset preset, OutputCodec codec, const std::filesystem::path &output);

/// MVHEVCConverter's quality fraction for a preset ("0.88", "0.85", "0.7", "0.5").
std::string spatialQualityText(QualityPreset preset);
/// MVHEVCConverter's bit-rate cap for a preset (35, 25, none, none).
std::optional<int> spatialRateCapMbps(QualityPreset preset);

/// True when the output path's extension, lower-cased, is exactly `extension` (without dot).
bool hasExtension(const std::filesystem::path &path, std::string_view extension);

} // namespace kestrova::pipeline
