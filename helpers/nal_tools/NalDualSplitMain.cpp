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
/// hold a base-view IDR picture; unit 0 always starts a piece). A unit
/// written UNIT+LEADING is an open GOP's I picture with LEADING leading
/// pictures right after it (nal-scan's "picture" lines say where decoding
/// can start): its piece leaves them out, and the piece before it ends with
/// that unit and its leading pictures, so that decoding it gives every
/// picture shown up to there, then the I picture itself.
///
/// Standard output: "segment INDEX FIRST_UNIT UNITS BASE_PIECE MVC_PIECE" per
/// piece, in order (UNITS: the access units written into it). MVC units
/// beyond the base view's count go with the last piece. With --ranges nothing is written; the lines are "segment INDEX
/// FIRST_UNIT UNITS BASE_OFFSET BASE_LENGTH MVC_OFFSET MVC_LENGTH" (byte
/// ranges of the two files, cut where the pieces start), for readers that
/// stream the pieces instead; such a reader must itself put the parameter
/// sets in front of a piece when the stream carries them only once; open
/// GOP cuts have no byte ranges.
/// Exit status 0; 1 with an "nal-dual-split: ERROR: ..." line when a
/// file cannot be read or written or the MVC view ends before a piece
/// starts (the pieces written so far are removed); 2 for a wrong command line.
#include "AccessUnitScan.h"
#include "PictureOrder.h"

#include <algorithm>
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

using Bytes = std::span<const std::uint8_t>;

// Writes `parts` one after the other to a new file at `path`.
void writeFile(const std::string &path, const std::vector<Bytes> &parts) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0)
    throw std::system_error(errno, std::generic_category(), "cannot create " + path);
  for (auto bytes : parts) {
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

// Writes a piece of a view's stream, the byte ranges `parts`, so that it
// decodes on its own.
void writePiece(const std::string &path, std::vector<Bytes> parts, std::uint8_t delimiterType,
                const std::vector<ParameterSet> &inForce) {
  const PieceStart start = selfContainedStart(parts.front(), delimiterType, inForce);
  parts.front() = parts.front().subspan(start.restFrom);
  parts.insert(parts.begin(), start.head);
  writeFile(path, parts);
}

// Where a piece starts: its first access unit and, for an open GOP's I
// picture, how many leading pictures follow it.
struct Cut {
  std::uint64_t unit = 0;
  std::uint64_t leading = 0;
};

// The access units of piece `index`, as [first, end) ranges in decoding order.
std::vector<std::pair<std::uint64_t, std::uint64_t>> pieceUnits(const std::vector<Cut> &cuts, std::size_t index,
                                                                std::uint64_t totalUnits) {
  const Cut &cut = cuts[index];
  const bool last = index + 1 == cuts.size();
  const std::uint64_t end = last ? totalUnits : cuts[index + 1].unit;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges{{cut.unit, cut.unit + 1}};
  auto add = [&ranges](std::uint64_t first, std::uint64_t until) {
    if (first >= until)
      return;
    if (ranges.back().second == first)
      ranges.back().second = until;
    else
      ranges.emplace_back(first, until);
  };
  add(cut.unit + 1 + cut.leading, end);
  if (!last && cuts[index + 1].leading > 0)
    add(end, std::min(totalUnits, end + 1 + cuts[index + 1].leading));
  return ranges;
}

// The bytes of units [first, end) of a view; `offsets` of its units, the
// first unit taking whatever precedes it.
Bytes unitBytes(Bytes stream, const std::vector<std::uint64_t> &offsets, std::uint64_t first, std::uint64_t end,
                bool toEndOfStream) {
  const std::uint64_t from = first == 0 ? 0 : offsets[first];
  const std::uint64_t until = toEndOfStream || end >= offsets.size() ? stream.size() : offsets[end];
  return stream.subspan(from, until - from);
}

// The cuts of the command line, each checked against the base view: an IDR
// split point, or for a cut with leading pictures a unit where decoding can
// start and as many leading pictures as it has.
std::vector<Cut> checkedCuts(std::vector<Cut> cuts, Bytes base, const StreamScan &scan) {
  if (cuts.empty() || cuts.front().unit != 0)
    cuts.insert(cuts.begin(), Cut{});
  std::optional<std::vector<CodedPicture>> pictures;
  for (std::size_t i = 0; i < cuts.size(); ++i) {
    const Cut &cut = cuts[i];
    if (i > 0 && cut.unit <= cuts[i - 1].unit)
      throw std::invalid_argument("access unit " + std::to_string(cut.unit) + " does not come after unit " +
                                  std::to_string(cuts[i - 1].unit));
    const bool idr = std::any_of(scan.points.begin(), scan.points.end(),
                                 [&cut](const SplitPoint &point) { return point.unit == cut.unit; });
    if ((idr || cut.unit == 0) && cut.leading == 0)
      continue;
    if (!pictures)
      pictures = codedPictures(base, scan);
    auto shownBefore = [&](std::uint64_t unit) { return (*pictures)[unit].order < (*pictures)[cut.unit].order; };
    bool fits = pictures && cut.unit + cut.leading < pictures->size() && (*pictures)[cut.unit].key;
    for (std::uint64_t j = 1; fits && j <= cut.leading; ++j)
      fits = shownBefore(cut.unit + j);
    if (!fits || (cut.unit + cut.leading + 1 < pictures->size() && shownBefore(cut.unit + cut.leading + 1)))
      throw std::invalid_argument("access unit " + std::to_string(cut.unit) + " is not where decoding can start with " +
                                  std::to_string(cut.leading) + " leading pictures");
  }
  return cuts;
}

// Cuts from "UNIT[+LEADING],..."; none when the text is not that.
std::optional<std::vector<Cut>> parseCuts(std::string_view value) {
  std::vector<Cut> cuts;
  while (!value.empty()) {
    Cut cut;
    auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), cut.unit);
    if (error != std::errc())
      return std::nullopt;
    value.remove_prefix(static_cast<std::size_t>(end - value.data()));
    if (!value.empty() && value.front() == '+') {
      value.remove_prefix(1);
      auto [after, bad] = std::from_chars(value.data(), value.data() + value.size(), cut.leading);
      if (bad != std::errc())
        return std::nullopt;
      value.remove_prefix(static_cast<std::size_t>(after - value.data()));
    }
    cuts.push_back(cut);
    if (!value.empty() && value.front() != ',')
      return std::nullopt;
    if (!value.empty())
      value.remove_prefix(1);
  }
  return cuts;
}

// A view's bytes and its access units.
struct View {
  Bytes bytes;
  StreamScan scan;
};

// One piece of both views: the byte ranges of its access units, and the
// parameter sets in force where it starts.
struct Piece {
  std::uint64_t firstUnit = 0;
  std::uint64_t units = 0; ///< access units written into it
  std::vector<Bytes> base, mvc;
  std::vector<ParameterSet> baseSets, mvcSets;
};

// The pieces that start at `cuts`; with `sets`, the parameter sets each needs
// in front (a stream may carry them only once, at its start).
std::vector<Piece> cutPieces(const View &base, const View &mvc, const std::vector<Cut> &cuts, bool sets) {
  std::vector<Piece> pieces;
  const std::uint64_t totalUnits = base.scan.unitOffsets.size();
  if (totalUnits == 0)
    return pieces;
  std::vector<std::uint64_t> baseStarts, mvcStarts;
  for (std::size_t i = 0; i < cuts.size(); ++i) {
    if (cuts[i].unit >= mvc.scan.unitOffsets.size())
      throw std::runtime_error("the MVC view has " + std::to_string(mvc.scan.unitOffsets.size()) +
                               " access units; piece " + std::to_string(i) + " starts at unit " +
                               std::to_string(cuts[i].unit));
    Piece piece{cuts[i].unit, 0, {}, {}, {}, {}};
    const bool last = i + 1 == cuts.size();
    for (const auto &[first, end] : pieceUnits(cuts, i, totalUnits)) {
      // MVC units beyond the base view's count go with the last piece.
      const bool toEnd = last && end == totalUnits;
      piece.base.push_back(unitBytes(base.bytes, base.scan.unitOffsets, first, end, toEnd));
      piece.mvc.push_back(unitBytes(mvc.bytes, mvc.scan.unitOffsets, first, end, toEnd));
      piece.units += end - first;
    }
    // The first piece also keeps whatever precedes the first delimiter.
    baseStarts.push_back(i == 0 ? 0 : base.scan.unitOffsets[cuts[i].unit]);
    mvcStarts.push_back(i == 0 ? 0 : mvc.scan.unitOffsets[cuts[i].unit]);
    pieces.push_back(std::move(piece));
  }
  if (sets) {
    auto baseSets = parameterSetsAt(base.bytes, baseStarts), mvcSets = parameterSetsAt(mvc.bytes, mvcStarts);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      pieces[i].baseSets = std::move(baseSets[i]);
      pieces[i].mvcSets = std::move(mvcSets[i]);
    }
  }
  return pieces;
}

std::string pieceName(const std::string &prefix, std::size_t index, const char *extension) {
  char number[16];
  std::snprintf(number, sizeof number, "_%03zu", index);
  return prefix + number + extension;
}

// Prints each piece's units and byte ranges in the two views, for a reader
// that takes them from the views themselves; a piece of more than one range
// (cut in an open GOP) has no such line.
void printRanges(const std::vector<Piece> &pieces, Bytes base, Bytes mvc) {
  if (std::any_of(pieces.begin(), pieces.end(), [](const Piece &piece) { return piece.base.size() > 1; }))
    throw std::invalid_argument("a piece cut in an open GOP has no single byte range");
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const Piece &piece = pieces[i];
    const Bytes &b = piece.base.front(), &m = piece.mvc.front();
    std::printf("segment %zu %llu %llu %llu %llu %llu %llu\n", i, static_cast<unsigned long long>(piece.firstUnit),
                static_cast<unsigned long long>(piece.units), static_cast<unsigned long long>(b.data() - base.data()),
                static_cast<unsigned long long>(b.size()), static_cast<unsigned long long>(m.data() - mvc.data()),
                static_cast<unsigned long long>(m.size()));
  }
}

// Writes each piece's two views as PREFIX_NNN.264 and PREFIX_NNN.mvc, noting
// each file in `written` before it is begun, and prints a line for each piece.
void writePieces(const std::vector<Piece> &pieces, const std::string &prefix, std::vector<std::string> &written) {
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const Piece &piece = pieces[i];
    const std::string basePiece = pieceName(prefix, i, ".264"), mvcPiece = pieceName(prefix, i, ".mvc");
    written.push_back(basePiece);
    writePiece(basePiece, piece.base, 9, piece.baseSets);
    written.push_back(mvcPiece);
    writePiece(mvcPiece, piece.mvc, 24, piece.mvcSets);
    std::printf("segment %zu %llu %llu %s %s\n", i, static_cast<unsigned long long>(piece.firstUnit),
                static_cast<unsigned long long>(piece.units), basePiece.c_str(), mvcPiece.c_str());
  }
}

} // namespace

int main(int argc, char **argv) {
  std::size_t segments = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::string> paths;
  std::optional<std::vector<Cut>> cuts;
  bool usage = false, rangesOnly = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument == "--segments" && i + 1 < argc) {
      std::string_view value = argv[++i];
      auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), segments);
      usage |= error != std::errc() || end != value.data() + value.size() || segments == 0;
    } else if (argument == "--at" && i + 1 < argc) {
      cuts = parseCuts(argv[++i]);
      usage |= !cuts;
    } else if (argument == "--ranges") {
      rangesOnly = true;
    } else {
      paths.emplace_back(argument);
    }
  }
  if (usage || paths.size() != (rangesOnly ? 2u : 3u)) {
    std::fprintf(stderr, "usage: nal-dual-split [--segments N | --at UNIT[+LEADING],...] BASE MVC PREFIX\n"
                         "       nal-dual-split [--segments N | --at UNIT,...] --ranges BASE MVC\n");
    return 2;
  }
  std::vector<std::string> written;
  try {
    MappedFile base(paths[0]), mvc(paths[1]);
    const View baseView{base.bytes(), scanDelimited(base.bytes(), 9)},
        mvcView{mvc.bytes(), scanDelimited(mvc.bytes(), 24)};
    std::vector<Cut> chosen;
    if (cuts) {
      chosen = checkedCuts(*cuts, base.bytes(), baseView.scan);
    } else {
      for (const Segment &segment : chooseSegments(baseView.scan, segments))
        chosen.push_back({segment.firstUnit, 0});
    }
    const auto pieces = cutPieces(baseView, mvcView, chosen, !rangesOnly);
    if (rangesOnly)
      printRanges(pieces, base.bytes(), mvc.bytes());
    else
      writePieces(pieces, paths[2], written);
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
