#pragma once

#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::tools {

/// Receives one line of a tool's output, without its line break.
using LineHandler = std::function<void(std::string_view line)>;

/// Cuts a tool's output into lines whatever pieces it arrives in. A line ends
/// at \n, \r\n or a lone \r (the progress lines of ffmpeg and the like); a
/// \r\n split between two reads is one break. Bytes that are not UTF-8 stay
/// as they are. A line longer than `longestLine` bytes is handed on in pieces
/// of that size, so a tool that never ends its line cannot fill memory.
class LineReader {
public:
  static constexpr std::size_t kLongestLine = 65536;

  explicit LineReader(LineHandler onLine, std::size_t longestLine = kLongestLine);
  /// The next bytes, as read.
  void feed(std::string_view chunk);
  /// The end of the stream: hands on a last line that has no line break.
  void finish();

private:
  LineHandler onLine_;
  std::size_t longestLine_;
  std::string partial_;
  bool afterCarriageReturn_ = false;
};

/// Keeps the most recent lines, up to a capacity; safe to add to on one
/// thread while another reads.
class LastLines {
public:
  explicit LastLines(std::size_t capacity) : capacity_(capacity) {}
  void add(std::string_view line);
  std::vector<std::string> lines() const;
  /// The last `count` lines (all when fewer) joined with line feeds, with
  /// bytes that are not UTF-8 escaped: text for a log or a message.
  std::string joined(std::size_t count = static_cast<std::size_t>(-1)) const;

private:
  std::size_t capacity_;
  mutable std::mutex mutex_;
  std::deque<std::string> lines_;
};

/// Adds `line` of a tool's standard error to `tail` as what the tool said
/// last: without trailing blanks, escaped, and not at all when it is empty
/// or an encoder's progress line ("frame=", "size=").
void keepToolErrorLine(LastLines &tail, std::string_view line);

/// The last `count` lines of `text` (a tool's whole output), joined and
/// escaped as LastLines::joined does.
std::string lastLinesOf(std::string_view text, std::size_t count);
/// The same for a tool's log file; empty when it cannot be read.
std::string lastLinesOfFile(const std::filesystem::path &file, std::size_t count);

} // namespace kestrova::tools
