#pragma once

#include <filesystem>
#include <string>
#include <utility>

namespace kestrova::test {

/// The two elementary streams tsMuxeR's double leaves for a disc of
/// `frames` pictures, in the form the JM decoder's double reads: access unit
/// delimiters (type 9 base, 24 MVC), a parameter set carrying
/// "W<width>H<height>" (type 7 base, 15 MVC) and slices carrying "F<frame>"
/// (types 5 and 1 base, 20 MVC). Plain text payloads, so they travel inside
/// a fake tool's JSON script unchanged.
std::string baseViewText(int frames, int width, int height);
std::string mvcViewText(int frames, int width, int height);

/// A one-second 64x48 H.264 video with an AAC track, made by the real
/// ffmpeg; the container follows the extension.
void makeMediaWithAudio(const std::filesystem::path &file);

/// Mean luma of the left and right halves over all frames of `video`.
std::pair<double, double> halfLuma(const std::filesystem::path &video);

} // namespace kestrova::test
