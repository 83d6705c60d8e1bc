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
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace {

using namespace kestrova::helpers;

/// What the command line asks for; no input when it is wrong.
struct ScanRequest {
  std::size_t segments = 0;
  std::optional<std::uint64_t> setsAt;
  const char *input = nullptr;
};

template <class Number> bool wholeNumber(std::string_view text, Number &value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

ScanRequest readCommandLine(int argc, char **argv) {
  ScanRequest request;
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    std::uint64_t offset = 0;
    if (argument == "--parameter-sets" && i + 1 < argc) {
      if (!wholeNumber(argv[++i], offset))
        return {};
      request.setsAt = offset;
    } else if (argument == "--segments" && i + 1 < argc) {
      if (!wholeNumber(argv[++i], request.segments) || request.segments == 0)
        return {};
    } else if (request.input == nullptr && !argument.starts_with("--")) {
      request.input = argv[i];
    } else {
      return {};
    }
  }
  if (request.setsAt && request.segments != 0)
    return {};
  return request;
}

void printCuts(std::span<const std::uint8_t> bytes, const StreamScan &scan) {
  for (const auto &point : scan.points)
    std::printf("split %llu %llu\n", static_cast<unsigned long long>(point.unit),
                static_cast<unsigned long long>(point.offset));
  std::printf("units %zu\nbytes %llu\n", scan.unitOffsets.size(), static_cast<unsigned long long>(scan.size));
  if (const auto pictures = codedPictures(bytes, scan))
    for (std::size_t i = 0; i < pictures->size(); ++i)
      std::printf("picture %zu %lld %d\n", i, static_cast<long long>((*pictures)[i].order),
                  (*pictures)[i].key ? ((*pictures)[i].leadingReferenced ? 2 : 1) : 0);
}

void printSegments(const StreamScan &scan, std::size_t segments) {
  const auto chosen = chooseSegments(scan, segments);
  for (std::size_t i = 0; i < chosen.size(); ++i)
    std::printf("segment %zu %llu %llu %llu %llu\n", i, static_cast<unsigned long long>(chosen[i].firstUnit),
                static_cast<unsigned long long>(chosen[i].units), static_cast<unsigned long long>(chosen[i].offset),
                static_cast<unsigned long long>(chosen[i].length));
}

} // namespace

int main(int argc, char **argv) {
  const ScanRequest request = readCommandLine(argc, argv);
  if (request.input == nullptr) {
    std::fprintf(stderr, "usage: nal-scan [--segments N] STREAM\n       nal-scan --parameter-sets OFFSET STREAM\n");
    return 2;
  }
  try {
    MappedFile file(request.input);
    auto bytes = file.bytes();
    if (request.setsAt) {
      const auto sets = parameterSetsAt(bytes, {*request.setsAt});
      const auto from = bytes.subspan(std::min<std::uint64_t>(*request.setsAt, bytes.size()));
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
    const StreamScan scan = delimited ? scanDelimited(bytes, 9) : scanInterleaved(bytes);
    if (request.segments == 0)
      printCuts(bytes, scan);
    else
      printSegments(scan, request.segments);
    return std::fflush(stdout) == 0 ? 0 : 1;
  } catch (const std::system_error &error) {
    std::fprintf(stderr, "nal-scan: ERROR: %s\n", error.what());
    return 1;
  }
}
