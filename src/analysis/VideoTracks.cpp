#include "analysis/VideoTracks.h"

#include "analysis/JsonFields.h"
#include "core/Errors.h"
#include "tools/Process.h"

#include <algorithm>

namespace kestrova::analysis {

std::vector<DetectedTrack> readVideoTracks(std::string_view report) {
  nlohmann::json root = nlohmann::json::parse(report);
  std::vector<DetectedTrack> tracks;
  if (!root.is_object())
    return tracks;
  auto streams = root.find("streams");
  if (streams == root.end() || !isArrayOfObjects(*streams))
    return tracks;
  for (const auto &stream : *streams) {
    if (stream.empty() || stringField(stream, "codec_type") != "video")
      continue;
    std::int64_t index = integerField(stream, "index").value_or(0);
    auto width = integerField(stream, "width");
    bool isMVC = !width || *width == 0 ||
                 lowercased(stringField(stream, "profile").value_or("")).find("mvc") != std::string::npos ||
                 lowercased(stringField(stream, "codec_tag_string").value_or("")).find("mvc") != std::string::npos;
    tracks.push_back({index, stringField(stream, "codec_name").value_or(""), isMVC, index});
  }
  std::stable_partition(tracks.begin(), tracks.end(), [](const DetectedTrack &t) { return !t.isMVC; });
  return tracks;
}

std::vector<DetectedTrack> detectVideoTracks(const tools::ToolLocator &locator, const std::filesystem::path &source) {
  auto ffprobe = locator.findTool("ffprobe");
  if (!ffprobe)
    throw ConversionError::toolNotFound(
        "ffprobe not found: install Debian's ffmpeg package (apt-get install ffmpeg) or put ffprobe into the "
        "tools folder");
  tools::ProcessLaunch launch;
  launch.executable = *ffprobe;
  launch.arguments = {"-v", "quiet", "-print_format", "json", "-show_streams", source.string()};
  launch.standardError = tools::StreamMode::discard;
  // The runner drains standard output while ffprobe runs, so a report larger
  // than a pipe's buffer arrives whole.
  return readVideoTracks(tools::runAndCollect(launch).standardOutput);
}

} // namespace kestrova::analysis
