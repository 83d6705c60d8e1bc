#include "Chapters.h"

#include "FrameSource.h"

#include <charconv>
#include <cmath>
#include <fstream>

namespace kestrova::mvhevc {

std::vector<Chapter> parseChapters(std::istream &in, const std::string &name) {
  std::vector<Chapter> chapters;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.empty()) {
      continue;
    }
    const auto bad = [&](const std::string &why) {
      return InputError(name + " line " + std::to_string(number) + ": " + why);
    };
    const auto tab = line.find('\t');
    if (tab == std::string::npos) {
      throw bad("expected the start in seconds, a TAB and the title");
    }
    Chapter chapter;
    const auto *end = line.data() + tab;
    const auto [ptr, ec] = std::from_chars(line.data(), end, chapter.startSeconds, std::chars_format::fixed);
    if (ec != std::errc() || ptr != end || !std::isfinite(chapter.startSeconds) || chapter.startSeconds < 0) {
      throw bad("the start \"" + line.substr(0, tab) + "\" is not a number of seconds");
    }
    if (!chapters.empty() && chapter.startSeconds <= chapters.back().startSeconds) {
      throw bad("the chapter starts no later than the one before it");
    }
    chapter.title = line.substr(tab + 1);
    if (chapter.title.size() > 0xFFFF) {
      throw bad("the title is longer than 65535 bytes");
    }
    chapters.push_back(std::move(chapter));
  }
  if (in.bad()) {
    throw InputError("cannot read " + name);
  }
  return chapters;
}

std::vector<Chapter> readChapters(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw InputError("cannot open the chapter list " + path);
  }
  return parseChapters(in, path);
}

} // namespace kestrova::mvhevc
