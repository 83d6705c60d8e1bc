/// nal-interleave BASE MVC OUTPUT
///
/// Merges a base-view stream (.264, access units opened by type-9
/// delimiters) and its MVC-view stream (.mvc, type-24 delimiters) into the
/// one stream the JM decoder reads: base and MVC access units alternating,
/// delimiters removed. OUTPUT is a new or existing file, a FIFO (written as
/// it is, after its reader has opened it) or /dev/stdout.
///
/// The interleaver's "[NALInterleaver] ..." progress lines go to standard
/// error. Exit status 0; 1 with an "nal-interleave: ERROR: ..." line when an
/// input is missing or unreadable, or the two views' unit counts differ by
/// more than the interleaver tolerates; 2 for a wrong command line. A reader
/// that goes away ends the run quietly with status 0.
#include "nal/InterleaveError.h"
#include "nal/NALInterleaver.h"

#include <csignal>
#include <cstdio>
#include <string>

int main(int argc, char **argv) {
  std::signal(SIGPIPE, SIG_IGN);
  if (argc != 4) {
    std::fprintf(stderr, "usage: nal-interleave BASE MVC OUTPUT\n");
    return 2;
  }
  try {
    kestrova::nal::NALInterleaver().interleave(
        argv[1], argv[2], argv[3], [](const std::string &line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    return 0;
  } catch (const kestrova::Error &error) {
    std::fprintf(stderr, "nal-interleave: ERROR: %s\n", error.what());
  } catch (const std::exception &error) {
    std::fprintf(stderr, "nal-interleave: ERROR: %s\n", error.what());
  }
  return 1;
}
