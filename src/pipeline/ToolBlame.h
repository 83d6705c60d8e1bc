#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrova::pipeline {

/// What the user reads instead of a tool's assertion text.
inline constexpr const char *kInternalCheckText = "it stopped at an internal check on a damaged picture";

/// The line of a tool's output that says why it failed: an assertion (as
/// kInternalCheckText), else the last error of an encoder library ("x265
/// [error]: …"), else the last line that speaks of an error, else the
/// last line that is not blank, not a warning, not a progress line
/// ("frame=", "size=", "N frame pairs decoded") and not ffmpeg's closing
/// "Conversion failed!". Empty when none.
std::string reasonLine(std::string_view text);
/// The same over lines already split.
std::string reasonLine(const std::vector<std::string> &lines);

/// `line`, with an assertion's text (file, function, expression) replaced
/// by kInternalCheckText; who said it stays.
std::string withoutInternalCheck(const std::string &line);

/// Keeps the end of a stream (the last 16 KiB), for reasonLine().
class TextTail {
public:
  void feed(std::string_view chunk);
  const std::string &text() const { return text_; }

private:
  std::string text_;
};

/// What the user reads about one tool of a pipeline that failed: "NAME
/// (ROLE) failed: REASON", or, when it said nothing, "NAME (ROLE) exited
/// with code N" / "was ended by signal N". `status` is a shell's status
/// (128 + N for signal N).
std::string toolFailureText(std::string_view name, std::string_view role, int status, const std::string &reason);

} // namespace kestrova::pipeline
