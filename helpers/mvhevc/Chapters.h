#pragma once

#include <istream>
#include <string>
#include <vector>

namespace kestrova::mvhevc {

/// One chapter mark of the movie.
struct Chapter {
  double startSeconds = 0;
  std::string title; ///< UTF-8
};

/// Reads chapter marks: one a line, the start in seconds as a decimal number, a TAB, the title.
/// Empty lines are ignored; starts must rise from line to line. Throws InputError naming `name`
/// and the line for a line that is not of this form.
std::vector<Chapter> parseChapters(std::istream &in, const std::string &name);

/// parseChapters on the file at `path`; InputError when it cannot be read.
std::vector<Chapter> readChapters(const std::string &path);

} // namespace kestrova::mvhevc
