#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kestrova::test {

/// Generates a small real media file (video plus a sine audio track) with
/// the real ffmpeg; the container follows the extension.
void makeSourceWithAudio(const std::filesystem::path &file);

/// Mean luma of the left and right halves over every frame of a video file,
/// decoded by the real ffmpeg.
std::pair<double, double> halfLumaMeans(const std::filesystem::path &video);

/// The streams of a media file as the real ffprobe sees them, e.g.
/// "video 128x48 left_right, audio".
std::string streamSummary(const std::filesystem::path &file);

/// The output of the real ffprobe for `arguments` followed by `file`.
std::string probe(const std::vector<std::string> &arguments, const std::filesystem::path &file);

} // namespace kestrova::test
