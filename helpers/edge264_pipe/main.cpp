/// edge264-pipe [--threads N] [--check] -p InputFile=STREAM [other ldecod arguments]
/// edge264-pipe [--threads N] [--check] --views BASE MVC
///
/// Decodes a two-view H.264 MVC stream with edge264 (linked in) and writes
/// the pictures to standard output exactly as ldecod-pipe does: pairs of the
/// view-0 picture then the view-1 picture, planar 8-bit 4:2:0 at the cropped
/// size, what `yuv_hstack WIDTH HEIGHT` reads. It takes ldecod-pipe's
/// command line, so either can run in the same place.
///
/// The stream is one interleaved stream (base and MVC access units
/// alternating, from a file, a FIFO or /dev/stdin), or the two demuxed view
/// files, which it interleaves itself (base units opened by type-9
/// delimiters, MVC units by type 24). Nothing is written to disk.
///
/// "--check" decodes the first pairs, writes nothing to standard output, and
/// tells by its status whether the whole stream is worth giving to this
/// decoder rather than to the JM decoder.
///
/// "--locate" decodes the whole stream, writes nothing, and decodes each
/// stretch from one IDR picture to the next with a decoder of its own, as a
/// player starting there would. Each stretch it could not decode is one line "edge264-pipe: lost pairs A to B: REASON"
/// (pairs A up to, not including, B, counted in display order from 0);
/// the last line is "edge264-pipe: N pictures". Status 0 when all decoded,
/// 4 when some stretch was lost.
///
/// Standard error: "edge264-pipe: N frame pairs decoded" every 50 pairs and
/// once at the end, and "edge264-pipe: ..." lines for problems.
///
/// Exit status: 0; 1 when the stream is unreadable or invalid, the decoder
/// stalls, or no picture has a second view; 2 for a wrong command line; 3
/// when the stream uses what this decoder lacks (interlaced coding, more
/// than 8 bits, a chroma format other than 4:2:0), with a line saying which.
/// A closed standard output ends the run with status 0. Signals keep their
/// default action: there is no child process and no file to clean up.
#include "NalUnitSource.h"
#include "PairDecoder.h"
#include "PairWriter.h"
#include "PipeArguments.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace kestrova::helpers;

constexpr std::uint64_t kReportEvery = 50;
/// Pairs a check decodes: past the first picture of the second view and a
/// few predicted ones, where an unsupported tool would already show.
constexpr std::uint64_t kCheckPairs = 8;
constexpr int kUnsupported = 3;
constexpr int kLost = 4;

void say(const std::string &line) {
  const std::string text = "edge264-pipe: " + line + "\n";
  [[maybe_unused]] ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
}

std::unique_ptr<NalUnitSource> openSource(const PipeArguments &arguments) {
  if (arguments.views[0])
    return std::make_unique<ViewFilesSource>(*arguments.views[0], *arguments.views[1]);
  const std::string &path = arguments.stream;
  kestrova::UniqueFd fd(path == "-" ? ::dup(STDIN_FILENO) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid())
    throw SourceError(path + ": " + std::strerror(errno));
  return std::make_unique<AnnexBSource>(std::move(fd), path);
}

int noMvcView() {
  say("ERROR: no picture with a second view came out; the stream has no MVC view");
  return 1;
}

int decode(const PipeArguments &arguments) {
  PairWriter writer(STDOUT_FILENO);
  bool outputClosed = false;
  PairDecoder decoder(arguments.threads, [&](const ViewPair &pair) {
    // A check only counts pairs; nothing reaches standard output.
    if (arguments.check || writer.write(pair))
      return true;
    outputClosed = true;
    return false;
  });
  auto source = openSource(arguments);
  std::uint64_t reported = 0;
  for (bool more = true; more && !(arguments.check && decoder.pairs() >= kCheckPairs);) {
    const auto unit = source->next();
    more = unit ? decoder.feed(*unit) : (decoder.finish(), false);
    if (!arguments.check && decoder.pairs() >= reported + kReportEvery) {
      reported = decoder.pairs() / kReportEvery * kReportEvery;
      say(std::to_string(decoder.pairs()) + " frame pairs decoded");
    }
  }
  if (outputClosed)
    return 0;
  if (arguments.check) {
    if (decoder.pairs() == 0)
      return noMvcView();
    say("the stream can be decoded");
    return 0;
  }
  say(std::to_string(decoder.pairs()) + " frame pairs decoded");
  if (decoder.unpaired() > 0)
    say("WARNING: " + std::to_string(decoder.unpaired()) +
        " picture(s) of view 0 had no partner in view 1 and were dropped");
  return decoder.pairs() == 0 ? noMvcView() : 0;
}

/// What --locate knows of the stream: pictures begun in decoding order (a
/// base-view slice whose first macroblock is 0, coded as the single bit 1,
/// opens one) and the parameter sets seen, which a decoder started at an
/// IDR picture needs.
struct LocateState {
  std::uint64_t pictures = 0;
  std::vector<std::vector<std::uint8_t>> parameterSets;
  bool anyLost = false;

  /// Whether `unit` opens a picture; an IDR picture when `idr`.
  bool opensPicture(NalUnit unit, bool idr) const {
    const std::uint8_t type = unit[0] & 0x1F;
    return (type == 5 || (!idr && type == 1)) && unit.size() > 1 && (unit[1] & 0x80) != 0;
  }
  void remember(NalUnit unit) {
    const std::uint8_t type = unit[0] & 0x1F;
    if (opensPicture(unit, false))
      ++pictures;
    if (type != 7 && type != 8 && type != 15)
      return;
    std::vector<std::uint8_t> copy(unit.begin(), unit.end());
    for (const auto &known : parameterSets)
      if (known == copy)
        return;
    parameterSets.push_back(std::move(copy));
  }
  /// Pairs `from` up to `until` could not be decoded; nothing when none of
  /// them was lost.
  void lost(std::uint64_t from, std::uint64_t until, const std::string &reason) {
    if (from >= until)
      return;
    say("lost pairs " + std::to_string(from) + " to " + std::to_string(until) + ": " + reason);
    anyLost = true;
  }
};

/// One stretch from an IDR picture to the next, decoded by a decoder of its
/// own, as a player that starts there would.
struct LocateSegment {
  std::unique_ptr<PairDecoder> decoder;
  std::uint64_t first = 0; // the segment's first picture, in display order
  std::optional<std::string> failure;

  void feed(NalUnit unit) {
    if (failure)
      return;
    try {
      decoder->feed(unit);
    } catch (const DecodeError &error) {
      failure = error.what();
    }
  }
  /// Ends the segment where picture `end` begins.
  void close(LocateState &state, std::uint64_t end) {
    if (!failure) {
      try {
        decoder->finish();
      } catch (const DecodeError &error) {
        failure = error.what();
      }
    }
    if (failure)
      state.lost(first + decoder->pairs(), end, *failure);
  }
};

int locate(const PipeArguments &arguments) {
  const auto count = [](const ViewPair &) { return true; };
  auto source = openSource(arguments);
  LocateState state;
  LocateSegment segment{std::make_unique<PairDecoder>(arguments.threads, count), 0, std::nullopt};
  while (const auto unit = source->next()) {
    if (unit->empty())
      continue;
    // Pictures are shown in order across an IDR picture: the segment before
    // it ends where it begins.
    if (state.opensPicture(*unit, true) && state.pictures > 0) {
      segment.close(state, state.pictures);
      segment = LocateSegment{std::make_unique<PairDecoder>(arguments.threads, count), state.pictures, std::nullopt};
      for (const auto &set : state.parameterSets)
        segment.feed(NalUnit(set));
    }
    state.remember(*unit);
    segment.feed(*unit);
  }
  segment.close(state, state.pictures);
  say(std::to_string(state.pictures) + " pictures");
  return state.anyLost ? kLost : 0;
}

} // namespace

int main(int argc, char **argv) {
  std::signal(SIGPIPE, SIG_IGN);
  auto arguments = parsePipeArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!arguments) {
    say("usage: edge264-pipe [--threads N] [--check] (-p InputFile=STREAM [ldecod arguments] | --views BASE MVC)");
    return 2;
  }
  try {
    return arguments->locate ? locate(*arguments) : decode(*arguments);
  } catch (const UnsupportedStream &error) {
    say(std::string("cannot decode this stream: ") + error.what());
    return kUnsupported;
  } catch (const DecodeError &error) {
    say(std::string("ERROR: ") + error.what());
  } catch (const std::exception &error) {
    say(std::string("ERROR: ") + error.what());
  }
  return 1;
}
