#pragma once

#include "core/OutputOptions.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/ToolOutputParsers.h"

#include <filesystem>
#include <string>

namespace kestrova::pipeline {

/// Turns a side-by-side file into MV-HEVC spatial video with MVHEVCConverter
/// (remuxing a Matroska input to .mov beside it first). The converter is the
/// engine's current process; `extraArguments` follow its own: the sound
/// tracks and chapters (see spatialTrackArguments) and, for an input that is
/// not full side by side with the left eye first, its --layout and
/// --eye-order. Returns the output path. Throws ConversionError
/// (toolNotFound, encodingFailed) or the launch error.
std::string convertToMVHEVC(PipelineEngine &engine, const std::filesystem::path &sbsInput,
                            const std::filesystem::path &output, QualityPreset preset, const ProgressReport &progress,
                            const std::vector<std::string> &extraArguments = {});

/// Whether a stream copy of `file` into QuickTime may carry the hvc1 tag:
/// true unless ffprobe reports a first video stream that is not HEVC. ffmpeg
/// refuses hvc1 for other codecs ("Tag hvc1 incompatible with output codec
/// id"), so an H.264 side-by-side Matroska file is remuxed without it. When
/// the file cannot be probed the answer is true.
bool takesHvc1Tag(const PipelineEngine &engine, const std::filesystem::path &file);

/// The converter's arguments: input, output, quality, and the cap when the preset has one.
std::vector<std::string> converterArguments(const std::filesystem::path &input, const std::filesystem::path &output,
                                            QualityPreset preset);

} // namespace kestrova::pipeline
