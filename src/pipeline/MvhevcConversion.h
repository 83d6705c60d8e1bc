#pragma once

#include "core/OutputOptions.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/ToolOutputParsers.h"

#include <filesystem>
#include <string>

namespace kestrova::pipeline {

/// Turns a side-by-side file into MV-HEVC spatial video with MVHEVCConverter
/// (remuxing a Matroska input to .mov beside it first). The converter is the
/// engine's current process. Returns the output path. Throws ConversionError
/// (toolNotFound, encodingFailed) or the launch error.
std::string convertToMVHEVC(PipelineEngine &engine, const std::filesystem::path &sbsInput,
                            const std::filesystem::path &output, QualityPreset preset, const ProgressReport &progress);

/// The converter's arguments: input, output, quality, and the cap when the preset has one.
std::vector<std::string> converterArguments(const std::filesystem::path &input, const std::filesystem::path &output,
                                            QualityPreset preset);

} // namespace kestrova::pipeline
