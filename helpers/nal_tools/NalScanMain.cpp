/// nal-scan [--segments N] STREAM
/// nal-scan --parameter-sets OFFSET STREAM
///
/// Finds where a two-view H.264 MVC stream can be cut so that each piece
/// decodes on its own: at access units whose base-view picture is an IDR
/// picture. STREAM is the interleaved stream (base and MVC access units
/// alternating without delimiters, as nal-interleave writes it); a base-view
/// elementary stream with type-9 delimiters is recognised by its first NAL
/// unit and scanned by its delimiters.
///
/// Standard output, one record per line, fields separated by one blank:
///   without --segments:  "split UNIT OFFSET" for every split point, then
///                        "units COUNT" and "bytes SIZE"; then, when the
///                        pictures' order can be read from the slices, for
///                        every unit in decoding order "picture UNIT ORDER
///                        KEY": where it is shown (the picture order count,
///                        counted on over the whole stream) and whether
///                        decoding can start there (an IDR picture, or an open
///                        GOP's I picture with a recovery point): 0 no, 1 yes,
///                        2 yes for edge264 but not for the JM decoder (leading
///                        pictures that a piece leaves out are referred to);
///   with --segments N:   "segment INDEX FIRST_UNIT UNITS OFFSET LENGTH" for
///                        at most N segments of about equal size, in order,
///                        covering the whole file (the first starts at
///                        byte 0); fewer when there are fewer split points.
/// Units are counted from 0 (base-view access units, one per frame pair).
/// With --parameter-sets, standard output is binary: the parameter sets in
/// force at byte OFFSET (of each type and id the last before it, sequence
/// sets first) that the access unit there does not carry itself, for a
/// reader that starts decoding a segment there of a stream that carries
/// them only once.
/// Exit status 0; 1 with an "nal-scan: ERROR: ..." line when the file cannot
/// be read; 2 for a wrong command line.
#include "AccessUnitScan.h"
#include "PictureOrder.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

int main(int argc, char **argv) {
  using namespace kestrova::helpers;
  std::size_t segments = 0;
  std::optional<std::uint64_t> setsAt;
  const char *input = nullptr;
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument == "--parameter-sets" && i + 1 < argc) {
      std::string_view value = argv[++i];
      std::uint64_t offset = 0;
      auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), offset);
      if (error != std::errc() || end != value.data() + value.size())
        input = nullptr, i = argc;
      else
        setsAt = offset;
    } else if (argument == "--segments" && i + 1 < argc) {
      std::string_view value = argv[++i];
      auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), segments);
      if (error != std::errc() || end != value.data() + value.size() || segments == 0)
        input = nullptr, i = argc;
    } else if (input == nullptr && !argument.starts_with("--")) {
      input = argv[i];
    } else {
      input = nullptr;
      break;
    }
  }
  if (input == nullptr || (setsAt && segments != 0)) {
    std::fprintf(stderr, "usage: nal-scan [--segments N] STREAM\n       nal-scan --parameter-sets OFFSET STREAM\n");
    return 2;
  }
  try {
    MappedFile file(input);
    auto bytes = file.bytes();
    if (setsAt) {
      const auto sets = parameterSetsAt(bytes, {*setsAt});
      const auto from = bytes.subspan(std::min<std::uint64_t>(*setsAt, bytes.size()));
      for (const auto &set : setsNotCarried(from, sets.front(), true))
        std::fwrite(set.bytes.data(), 1, set.bytes.size(), stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    // A base-view elementary stream opens with its delimiter; the interleaved
    // stream has none.
    std::size_t first = 0;
    while (first < bytes.size() && bytes[first] == 0)
      ++first;
    const bool delimited = first + 1 < bytes.size() && bytes[first] == 1 && (bytes[first + 1] & 0x1F) == 9;
    StreamScan scan = delimited ? scanDelimited(bytes, 9) : scanInterleaved(bytes);
    if (segments == 0) {
      for (const auto &point : scan.points)
        std::printf("split %llu %llu\n", static_cast<unsigned long long>(point.unit),
                    static_cast<unsigned long long>(point.offset));
      std::printf("units %zu\nbytes %llu\n", scan.unitOffsets.size(), static_cast<unsigned long long>(scan.size));
      if (const auto pictures = codedPictures(bytes, scan))
        for (std::size_t i = 0; i < pictures->size(); ++i)
          std::printf("picture %zu %lld %d\n", i, static_cast<long long>((*pictures)[i].order),
                      (*pictures)[i].key ? ((*pictures)[i].leadingReferenced ? 2 : 1) : 0);
    } else {
      auto chosen = chooseSegments(scan, segments);
      for (std::size_t i = 0; i < chosen.size(); ++i)
        std::printf("segment %zu %llu %llu %llu %llu\n", i, static_cast<unsigned long long>(chosen[i].firstUnit),
                    static_cast<unsigned long long>(chosen[i].units), static_cast<unsigned long long>(chosen[i].offset),
                    static_cast<unsigned long long>(chosen[i].length));
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
  } catch (const std::system_error &error) {
    std::fprintf(stderr, "nal-scan: ERROR: %s\n", error.what());
    return 1;
  }
}
