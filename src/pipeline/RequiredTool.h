#pragma once

#include <string>
#include <string_view>

namespace kestrova::tools {
class StepContext;
}

namespace kestrova::pipeline {

/// The path of tool `name` in the tools folder or on the system. Throws
/// ConversionError::toolNotFound "NAME not found" when there is none.
std::string requireTool(const tools::StepContext &tools, std::string_view name);

/// The path of ffmpeg. Throws ConversionError::toolNotFound saying how to
/// install it when there is none.
std::string requireFfmpeg(const tools::StepContext &tools);

} // namespace kestrova::pipeline
