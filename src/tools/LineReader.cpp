#include "tools/LineReader.h"

#include "core/Utf8.h"

#include <fstream>

namespace kestrova::tools {

LineReader::LineReader(LineHandler onLine, std::size_t longestLine)
    : onLine_(std::move(onLine)), longestLine_(longestLine == 0 ? 1 : longestLine) {}

void LineReader::feed(std::string_view chunk) {
  for (std::size_t at = 0; at < chunk.size();) {
    if (afterCarriageReturn_ && chunk[at] == '\n') // the rest of a \r\n
      ++at;
    afterCarriageReturn_ = false;
    const std::size_t end = chunk.find_first_of("\r\n", at);
    const bool ends = end != std::string_view::npos;
    const std::string_view piece = chunk.substr(at, ends ? end - at : std::string_view::npos);
    at = ends ? end + 1 : chunk.size();
    if (ends && partial_.empty() && piece.size() <= longestLine_) {
      onLine_(piece);
    } else {
      // A line longer than the limit goes on in pieces of the limit; what
      // is left (never longer) waits for the line's end.
      partial_.append(piece);
      std::size_t sent = 0;
      for (; partial_.size() - sent > longestLine_; sent += longestLine_)
        onLine_(std::string_view(partial_).substr(sent, longestLine_));
      partial_.erase(0, sent);
      if (ends) {
        onLine_(partial_);
        partial_.clear();
      }
    }
    if (ends)
      afterCarriageReturn_ = chunk[end] == '\r';
  }
}

void LineReader::finish() {
  if (!partial_.empty())
    onLine_(partial_);
  partial_.clear();
  afterCarriageReturn_ = false;
}

void LastLines::add(std::string_view line) {
  std::lock_guard lock(mutex_);
  lines_.emplace_back(line);
  while (lines_.size() > capacity_)
    lines_.pop_front();
}

std::vector<std::string> LastLines::lines() const {
  std::lock_guard lock(mutex_);
  return {lines_.begin(), lines_.end()};
}

std::string LastLines::joined(std::size_t count) const {
  std::lock_guard lock(mutex_);
  std::string text;
  const std::size_t first = lines_.size() > count ? lines_.size() - count : 0;
  for (std::size_t i = first; i < lines_.size(); ++i)
    text += (i == first ? "" : "\n") + escapedForLog(lines_[i]);
  return text;
}

void keepToolErrorLine(LastLines &tail, std::string_view line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
    line.remove_suffix(1);
  if (!line.empty() && !line.starts_with("frame=") && !line.starts_with("size="))
    tail.add(escapedForLog(line));
}

std::string lastLinesOf(std::string_view text, std::size_t count) {
  LastLines kept(count);
  LineReader reader([&kept](std::string_view line) { kept.add(line); });
  reader.feed(text);
  reader.finish();
  return kept.joined();
}

std::string lastLinesOfFile(const std::filesystem::path &file, std::size_t count) {
  std::ifstream in(file, std::ios::binary);
  LastLines kept(count);
  LineReader reader([&kept](std::string_view line) { kept.add(line); });
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
    reader.feed(std::string_view(buffer, static_cast<std::size_t>(in.gcount())));
  reader.finish();
  return kept.joined();
}

} // namespace kestrova::tools
