#pragma once

#include "core/Records.h"
#include "tools/ToolLocator.h"

#include <filesystem>
#include <string_view>
#include <vector>

namespace kestrova::analysis {

/// The video tracks of ffprobe's stream report, base-view tracks first
/// (stable order otherwise). Throws nlohmann::json::parse_error when the
/// report is not JSON; a report without a usable stream list gives none.
std::vector<DetectedTrack> readVideoTracks(std::string_view report);

/// Runs ffprobe -show_streams on `source` and lists its video tracks.
/// Throws ConversionError::toolNotFound when there is no ffprobe, the launch
/// error when it cannot start, and the JSON parser's error.
std::vector<DetectedTrack> detectVideoTracks(const tools::ToolLocator &locator, const std::filesystem::path &source);

} // namespace kestrova::analysis
