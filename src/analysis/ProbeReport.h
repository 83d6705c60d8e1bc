#pragma once

#include "core/Log.h"
#include "core/Records.h"

#include <filesystem>
#include <optional>
#include <string_view>

namespace kestrova::analysis {

/// Turns ffprobe's JSON report (-show_format -show_streams) on `url` into a
/// SourceFileInfo, logging as it goes. No value when the text is not a JSON
/// object. Never throws: every field is read with its fixed type and default.
std::optional<SourceFileInfo> readProbeReport(std::string_view report, const std::filesystem::path &url,
                                              const LogFn &log);

/// Seconds from ffprobe's duration text; text that is not one whole decimal number gives 0.
double parseDurationSeconds(const std::string &text);

} // namespace kestrova::analysis
