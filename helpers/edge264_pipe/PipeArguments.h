#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrova::helpers {

/// The command line of edge264-pipe. It takes ldecod-pipe's (and so the JM
/// decoder's) own arguments, so that the one can stand in for the other:
/// "-p InputFile=STREAM" or "-i STREAM" name the stream, every other "-p
/// Key=Value" and "-o NAME" are accepted and ignored. "--views BASE MVC"
/// names the two demuxed view files instead. "--threads N" sets the
/// decoder's worker threads (-1, the default, one per core); "--check" only
/// tells whether the stream can be decoded; "--locate" decodes all of it
/// without writing and says which pairs cannot be decoded.
struct PipeArguments {
  std::string stream;                  ///< the interleaved stream, when no view files are named
  std::optional<std::string> views[2]; ///< base and MVC view files
  int threads = -1;
  bool check = false;
  bool locate = false;
};

/// No value for a command line that names no input, names both kinds, or
/// leaves an option without its value.
std::optional<PipeArguments> parsePipeArguments(const std::vector<std::string> &arguments);

} // namespace kestrova::helpers
