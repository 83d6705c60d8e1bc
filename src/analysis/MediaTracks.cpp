#include "analysis/MediaTracks.h"

#include "analysis/JsonFields.h"
#include "tools/Process.h"

#include <cmath>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

namespace kestrova::analysis {

namespace {

double secondsField(const nlohmann::json &object, const char *key) {
  auto text = stringField(object, key);
  if (!text)
    return 0;
  try {
    return std::stod(*text);
  } catch (const std::exception &) {
    return 0;
  }
}

// Titles and languages go into files and command lines: one line, no tabs.
std::string oneLine(std::string text) {
  for (auto &c : text)
    if (c == '\n' || c == '\r' || c == '\t')
      c = ' ';
  return text;
}

} // namespace

MediaTracks readMediaTracks(const std::string &report) {
  MediaTracks tracks;
  auto json = nlohmann::json::parse(report, nullptr, false);
  if (!json.is_object())
    return tracks;
  const auto &streams = json.contains("streams") ? json["streams"] : nlohmann::json();
  if (isArrayOfObjects(streams)) {
    for (const auto &stream : streams) {
      MediaTrack track;
      track.stream = integerField(stream, "index").value_or(0);
      track.codec = stringField(stream, "codec_name").value_or("");
      track.forced = integerField(objectField(stream, "disposition"), "forced").value_or(0) != 0;
      const auto &tags = objectField(stream, "tags");
      if (auto language = stringField(tags, "language"); language && language->size() == 3)
        track.language = lowercased(*language);
      const auto type = stringField(stream, "codec_type").value_or("");
      if (type == "audio")
        tracks.audio.push_back(track);
      else if (type == "subtitle")
        tracks.subtitles.push_back(track);
    }
  }
  const auto &chapters = json.contains("chapters") ? json["chapters"] : nlohmann::json();
  if (isArrayOfObjects(chapters)) {
    for (const auto &chapter : chapters)
      tracks.chapters.push_back({secondsField(chapter, "start_time"), secondsField(chapter, "end_time"),
                                 oneLine(stringField(objectField(chapter, "tags"), "title").value_or(""))});
  }
  tracks.chapters = namedChapters(std::move(tracks.chapters));
  return tracks;
}

MediaTracks probeMediaTracks(const std::filesystem::path &ffprobe, const std::filesystem::path &file) {
  tools::ProcessLaunch launch;
  launch.executable = ffprobe;
  launch.arguments = {"-v", "error", "-print_format", "json", "-show_streams", "-show_chapters", file.string()};
  return readMediaTracks(tools::runAndCollect(launch).standardOutput);
}

std::vector<Chapter> namedChapters(std::vector<Chapter> chapters) {
  for (std::size_t i = 0; i < chapters.size(); ++i)
    if (chapters[i].title.empty())
      chapters[i].title = fmt::format("Chapter {}", i + 1);
  return chapters;
}

std::string chapterListText(const std::vector<Chapter> &chapters) {
  std::string text;
  for (const auto &chapter : chapters)
    text += fmt::format("{:.3f}\t{}\n", chapter.start, oneLine(chapter.title));
  return text;
}

std::string ffmetadataText(const std::vector<Chapter> &chapters) {
  std::string text = ";FFMETADATA1\n";
  for (const auto &chapter : chapters) {
    // '=', ';', '#', '\' and newlines are special in this format.
    std::string title;
    for (char c : oneLine(chapter.title)) {
      if (c == '=' || c == ';' || c == '#' || c == '\\')
        title += '\\';
      title += c;
    }
    text += fmt::format("[CHAPTER]\nTIMEBASE=1/1000\nSTART={}\nEND={}\ntitle={}\n", std::llround(chapter.start * 1000),
                        std::llround(std::max(chapter.end, chapter.start) * 1000), title);
  }
  return text;
}

} // namespace kestrova::analysis
