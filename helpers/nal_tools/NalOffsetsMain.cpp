/// nal-offsets STREAM
///
/// Prints the Blu-ray 3D offset tables (subtitle and menu depth) of an MVC
/// view elementary stream, one block per table:
///   OFMD @POSITION frame_rate=CODE PTS=PTS sequences=N frames=M
///     seq I: V V V ...     (pixels, nearer positive; "--" undefined)
/// then "COUNT OFMD message(s)". What is wrong with the tables goes to
/// standard error as "nal-offsets: WARNING: @POSITION: WHAT" lines.
/// Exit status 0; 1 with an "nal-offsets: ERROR: ..." line when the file
/// cannot be read; 2 for a wrong command line.
#include "nal/OffsetMetadata.h"

#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

int main(int argc, char **argv) {
  using namespace kestrova::nal;
  if (argc != 2 || std::string_view(argv[1]).starts_with("--")) {
    std::fprintf(stderr, "usage: nal-offsets STREAM\n");
    return 2;
  }
  try {
    const OffsetMetadata metadata = readOffsetMetadata(argv[1]);
    for (const auto &table : metadata.tables) {
      std::printf("OFMD @%llu frame_rate=%u PTS=%llu sequences=%zu frames=%zu\n",
                  static_cast<unsigned long long>(table.position), table.frameRateCode,
                  static_cast<unsigned long long>(table.pts), table.sequences.size(), table.frames);
      for (std::size_t i = 0; i < table.sequences.size(); ++i) {
        std::string row;
        for (const auto &value : table.sequences[i])
          row += (row.empty() ? "" : " ") + (value ? std::to_string(*value) : std::string("--"));
        std::printf("  seq %zu: %s\n", i, row.c_str());
      }
    }
    std::printf("%zu OFMD message(s)\n", metadata.tables.size());
    for (const auto &defect : metadata.defects)
      std::fprintf(stderr, "nal-offsets: WARNING: @%llu: %s\n", static_cast<unsigned long long>(defect.position),
                   defect.what.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
  } catch (const std::exception &error) {
    std::fprintf(stderr, "nal-offsets: ERROR: %s\n", error.what());
    return 1;
  }
}
