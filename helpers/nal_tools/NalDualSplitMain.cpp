/// nal-dual-split [--segments N | --at UNIT,UNIT...] BASE MVC PREFIX
/// nal-dual-split [--segments N | --at UNIT,UNIT...] --ranges BASE MVC
///
/// Splits a base-view stream (access units opened by type-9 delimiters) and
/// its MVC-view stream (opened by type-24 delimiters) at the same access
/// units, each piece starting at a base unit with an IDR picture, into at
/// most N pieces of about equal size (N defaults to the number of cores).
/// Piece K is written to PREFIX_KKK.264 and PREFIX_KKK.mvc (K from 000), ready
/// for nal-interleave; each MVC piece starts with the MVC unit of the same
/// index. Each piece opens with its first unit's delimiter followed by the
/// parameter sets in force there that the unit does not repeat itself, so a
/// stream that carries them only once still splits into pieces that decode
/// on their own. A stream with fewer split points than N gives fewer pieces.
/// With --at the pieces start exactly at the given access units (each must
/// hold a base-view IDR picture; unit 0 always starts a piece).
///
/// Standard output: "segment INDEX FIRST_UNIT UNITS BASE_PIECE MVC_PIECE" per
/// piece, in order. MVC units beyond the base view's count go with the last
/// piece. With --ranges nothing is written; the lines are "segment INDEX
/// FIRST_UNIT UNITS BASE_OFFSET BASE_LENGTH MVC_OFFSET MVC_LENGTH" (byte
/// ranges of the two files, cut where the pieces start), for readers that
/// stream the pieces instead; such a reader must itself put the parameter
/// sets in front of a piece when the stream carries them only once.
/// Exit status 0; 1 with an "nal-dual-split: ERROR: ..." line when a
/// file cannot be read or written or the MVC view ends before a piece
/// starts (the pieces written so far are removed); 2 for a wrong command line.
#include "AccessUnitScan.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace kestrova::helpers;

// Writes `head`, then `rest`, to a new file at `path`.
void writeFile(const std::string &path, std::span<const std::uint8_t> head, std::span<const std::uint8_t> rest) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0)
    throw std::system_error(errno, std::generic_category(), "cannot create " + path);
  for (auto bytes : {head, rest}) {
    while (!bytes.empty()) {
      ssize_t n = ::write(fd, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0) {
        int error = errno;
        ::close(fd);
        throw std::system_error(error, std::generic_category(), "cannot write " + path);
      }
      bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
  }
  if (::close(fd) != 0)
    throw std::system_error(errno, std::generic_category(), "cannot write " + path);
}

// Writes the piece `bytes` of a view's stream so that it decodes on its own.
void writePiece(const std::string &path, std::span<const std::uint8_t> bytes, std::uint8_t delimiterType,
                const std::vector<ParameterSet> &inForce) {
  const PieceStart start = selfContainedStart(bytes, delimiterType, inForce);
  writeFile(path, start.head, bytes.subspan(start.restFrom));
}

std::string pieceName(const std::string &prefix, std::size_t index, const char *extension) {
  char number[16];
  std::snprintf(number, sizeof number, "_%03zu", index);
  return prefix + number + extension;
}

} // namespace

int main(int argc, char **argv) {
  std::size_t segments = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::string> paths;
  std::vector<std::uint64_t> cuts;
  bool usage = false, rangesOnly = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument == "--segments" && i + 1 < argc) {
      std::string_view value = argv[++i];
      auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), segments);
      usage |= error != std::errc() || end != value.data() + value.size() || segments == 0;
    } else if (argument == "--at" && i + 1 < argc) {
      std::string_view value = argv[++i];
      while (!value.empty()) {
        std::uint64_t unit = 0;
        auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), unit);
        usage |= error != std::errc();
        cuts.push_back(unit);
        value.remove_prefix(static_cast<std::size_t>(end - value.data()));
        if (error != std::errc() || (!value.empty() && value.front() != ','))
          break;
        if (!value.empty())
          value.remove_prefix(1);
      }
      usage |= !value.empty();
    } else if (argument == "--ranges") {
      rangesOnly = true;
    } else {
      paths.emplace_back(argument);
    }
  }
  if (usage || paths.size() != (rangesOnly ? 2u : 3u)) {
    std::fprintf(stderr, "usage: nal-dual-split [--segments N | --at UNIT,...] BASE MVC PREFIX\n"
                         "       nal-dual-split [--segments N | --at UNIT,...] --ranges BASE MVC\n");
    return 2;
  }
  std::vector<std::string> written;
  try {
    MappedFile base(paths[0]), mvc(paths[1]);
    const StreamScan baseScan = scanDelimited(base.bytes(), 9);
    const StreamScan mvcScan = scanDelimited(mvc.bytes(), 24);
    const auto chosen = cuts.empty() ? chooseSegments(baseScan, segments) : segmentsAt(baseScan, cuts);
    std::vector<std::uint64_t> baseStarts, mvcStarts;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
      const Segment &piece = chosen[i];
      if (piece.firstUnit >= mvcScan.unitOffsets.size())
        throw std::runtime_error("the MVC view has " + std::to_string(mvcScan.unitOffsets.size()) +
                                 " access units; piece " + std::to_string(i) + " starts at unit " +
                                 std::to_string(piece.firstUnit));
      baseStarts.push_back(piece.offset);
      // The first MVC piece also keeps whatever precedes the first delimiter.
      mvcStarts.push_back(i == 0 ? 0 : mvcScan.unitOffsets[piece.firstUnit]);
    }
    // A stream may carry its parameter sets only once, at its start: each
    // piece gets those in force where it starts.
    std::vector<std::vector<ParameterSet>> baseSets, mvcSets;
    if (!rangesOnly) {
      baseSets = parameterSetsAt(base.bytes(), baseStarts);
      mvcSets = parameterSetsAt(mvc.bytes(), mvcStarts);
    }
    for (std::size_t i = 0; i < chosen.size(); ++i) {
      const Segment &piece = chosen[i];
      const std::uint64_t mvcStart = mvcStarts[i];
      const bool last = i + 1 == chosen.size();
      const std::uint64_t mvcEnd = last ? mvcScan.size : mvcStarts[i + 1];
      if (rangesOnly) {
        std::printf("segment %zu %llu %llu %llu %llu %llu %llu\n", i, static_cast<unsigned long long>(piece.firstUnit),
                    static_cast<unsigned long long>(piece.units), static_cast<unsigned long long>(piece.offset),
                    static_cast<unsigned long long>(piece.length), static_cast<unsigned long long>(mvcStart),
                    static_cast<unsigned long long>(mvcEnd - mvcStart));
        continue;
      }
      const std::string basePiece = pieceName(paths[2], i, ".264"), mvcPiece = pieceName(paths[2], i, ".mvc");
      written.push_back(basePiece);
      writePiece(basePiece, base.bytes().subspan(piece.offset, piece.length), 9, baseSets[i]);
      written.push_back(mvcPiece);
      writePiece(mvcPiece, mvc.bytes().subspan(mvcStart, mvcEnd - mvcStart), 24, mvcSets[i]);
      std::printf("segment %zu %llu %llu %s %s\n", i, static_cast<unsigned long long>(piece.firstUnit),
                  static_cast<unsigned long long>(piece.units), basePiece.c_str(), mvcPiece.c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
  } catch (const std::exception &error) {
    std::fprintf(stderr, "nal-dual-split: ERROR: %s\n", error.what());
    for (const auto &path : written) {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
    return 1;
  }
}
