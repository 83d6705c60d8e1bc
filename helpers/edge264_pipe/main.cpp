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
#include <string>
#include <unistd.h>

namespace {

using namespace kestrova::helpers;

constexpr std::uint64_t kReportEvery = 50;
/// Pairs a check decodes: past the first picture of the second view and a
/// few predicted ones, where an unsupported tool would already show.
constexpr std::uint64_t kCheckPairs = 8;
constexpr int kUnsupported = 3;

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

} // namespace

int main(int argc, char **argv) {
  std::signal(SIGPIPE, SIG_IGN);
  auto arguments = parsePipeArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!arguments) {
    say("usage: edge264-pipe [--threads N] [--check] (-p InputFile=STREAM [ldecod arguments] | --views BASE MVC)");
    return 2;
  }
  try {
    return decode(*arguments);
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
