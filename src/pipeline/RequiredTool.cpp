#include "pipeline/RequiredTool.h"

#include "core/Errors.h"
#include "tools/StepContext.h"

namespace kestrova::pipeline {

std::string requireTool(const tools::StepContext &tools, std::string_view name) {
  auto path = tools.findTool(name);
  if (!path)
    throw ConversionError::toolNotFound(std::string(name) + " not found");
  return *path;
}

std::string requireFfmpeg(const tools::StepContext &tools) {
  auto path = tools.findTool("ffmpeg");
  if (!path)
    throw ConversionError::toolNotFound("ffmpeg not found: install Debian's ffmpeg package (apt-get install ffmpeg) or "
                                        "put ffmpeg into the tools folder");
  return *path;
}

} // namespace kestrova::pipeline
