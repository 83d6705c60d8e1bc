// yuv_hstack WIDTH HEIGHT [swap] [--frame-rate NUM[/DEN] --subtitles FILE.sup
//            [--subtitle-offsets VIEW] [--subtitle-plane K] [--subtitle-depth PIXELS]
//            [--subtitle-first-frame N]]
//
// Reads pairs of planar 4:2:0 pictures (view 0, then view 1) on standard
// input and writes one picture of twice the width per pair on standard
// output, view 0 on the left unless "swap" is given. With --subtitles, the
// PG track is burned into both views first, at the depth of the offset
// sequence K of the MVC view (or a fixed depth). A reader that goes away
// ends the program quietly; input that stops inside a pair is reported and
// ends it with status 1.
#include "BurnInOptions.h"
#include "FrameStacker.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace {

using kestrova::helpers::PlanarGeometry;

// Reads up to `size` bytes, retrying short reads; returns the count read
// (less than `size` only at end of input), or -1 on a read error.
long long readFully(int fd, std::uint8_t *data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd, data + done, size - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return -1;
    if (n == 0)
      break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(done);
}

enum class WriteResult { ok, closed, failed };

// Writes every piece of `pieces`, IOV_MAX at a time, resuming after short
// writes. `pieces` is consumed.
WriteResult writeAll(int fd, std::vector<iovec> &pieces) {
  std::size_t next = 0;
  while (next < pieces.size()) {
    const int count = static_cast<int>(std::min<std::size_t>(pieces.size() - next, IOV_MAX));
    ssize_t n = ::writev(fd, pieces.data() + next, count);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return errno == EPIPE ? WriteResult::closed : WriteResult::failed;
    auto left = static_cast<std::size_t>(n);
    while (next < pieces.size() && left >= pieces[next].iov_len)
      left -= pieces[next++].iov_len;
    if (left > 0) {
      pieces[next].iov_base = static_cast<std::uint8_t *>(pieces[next].iov_base) + left;
      pieces[next].iov_len -= left;
    }
  }
  return WriteResult::ok;
}

bool parseDimension(std::string_view text, std::size_t &value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value > 0 && value <= 16384;
}

struct CommandLine {
  PlanarGeometry geometry{};
  bool swap = false;
  kestrova::subtitles::BurnInOptions burnIn;
};

constexpr const char *kUsage = "usage: yuv_hstack WIDTH HEIGHT [swap] [--frame-rate NUM[/DEN] --subtitles FILE.sup "
                               "[--subtitle-offsets VIEW] [--subtitle-plane K] [--subtitle-depth PIXELS] "
                               "[--subtitle-first-frame N]]";

CommandLine parseCommandLine(int argc, char **argv) {
  CommandLine line;
  if (argc < 3 || !parseDimension(argv[1], line.geometry.width) || !parseDimension(argv[2], line.geometry.height)) {
    throw std::invalid_argument(kUsage);
  }
  int next = 3;
  if (next < argc && std::string_view(argv[next]) == "swap") {
    line.swap = true;
    ++next;
  }
  for (; next < argc; next += 2) {
    const std::string_view arg = argv[next];
    if (next + 1 >= argc) {
      throw std::invalid_argument(std::string(kUsage));
    }
    const std::string_view value = argv[next + 1];
    if (arg == "--frame-rate") {
      const auto rate = kestrova::subtitles::parseFrameRate(value);
      if (!rate) {
        throw std::invalid_argument("--frame-rate must be NUM or NUM/DEN, not " + std::string(value));
      }
      std::tie(line.burnIn.frameRateNum, line.burnIn.frameRateDen) = *rate;
    } else if (!kestrova::subtitles::applyBurnInOption(arg, value, line.burnIn)) {
      throw std::invalid_argument(kUsage);
    }
  }
  kestrova::subtitles::checkBurnInOptions(line.burnIn);
  if (!line.burnIn.subtitles.empty() && line.burnIn.frameRateNum == 0) {
    throw std::invalid_argument("--subtitles needs --frame-rate to time the cues");
  }
  line.burnIn.depth.logPrefix = "yuv_hstack: subtitles: ";
  return line;
}

kestrova::subtitles::PictureView viewOf(std::uint8_t *picture, const PlanarGeometry &g) {
  const std::size_t luma = g.width * g.height, chroma = g.chromaWidth() * g.chromaHeight();
  const auto chromaStride = static_cast<std::ptrdiff_t>(g.chromaWidth());
  return {{picture, picture + luma, picture + luma + chroma},
          {static_cast<std::ptrdiff_t>(g.width), chromaStride, chromaStride},
          static_cast<int>(g.width),
          static_cast<int>(g.height)};
}

} // namespace

int main(int argc, char **argv) {
  // A closed output shows up as EPIPE from write(), handled below.
  std::signal(SIGPIPE, SIG_IGN);
  CommandLine line;
  try {
    line = parseCommandLine(argc, argv);
  } catch (const std::invalid_argument &error) {
    std::fprintf(stderr, "yuv_hstack: %s\n", error.what());
    return 2;
  }
  const PlanarGeometry geometry = line.geometry;
  const bool swap = line.swap;
  std::optional<kestrova::subtitles::SubtitleBurner> burner;
  if (!line.burnIn.subtitles.empty()) {
    burner.emplace(line.burnIn, static_cast<int>(geometry.width), std::cerr);
  }
  const std::size_t frame = geometry.frameBytes();
  std::vector<std::uint8_t> pair(2 * frame);
  std::uint8_t *view0 = pair.data(), *view1 = pair.data() + frame;
  // The output rows point into the input buffer, which never moves, so the
  // list is made once; each frame writes a copy because writev's resume
  // after a short write edits it.
  const std::vector<iovec> rows =
      kestrova::helpers::sideBySideRows(geometry, swap ? view1 : view0, swap ? view0 : view1);
  std::vector<iovec> pending;
  // Bigger pipes mean fewer wake-ups of the two ends; not having them costs
  // only speed, so a refusal is ignored.
#ifdef F_SETPIPE_SZ
  ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20);
  ::fcntl(STDIN_FILENO, F_SETPIPE_SZ, 1 << 20);
#endif
  unsigned long long pairs = 0;
  for (;;) {
    long long got = readFully(STDIN_FILENO, pair.data(), pair.size());
    if (got < 0) {
      std::fprintf(stderr, "yuv_hstack: read error after %llu frame pairs: %s\n", pairs, std::strerror(errno));
      return 1;
    }
    if (got == 0)
      break;
    if (static_cast<std::size_t>(got) < pair.size()) {
      std::fprintf(stderr,
                   "yuv_hstack: input ended inside frame pair %llu (%lld of %zu bytes); the last pair is dropped\n",
                   pairs + 1, got, pair.size());
      return 1;
    }
    // The subtitles go into the input pictures the rows point at; a frame without a cue costs a lookup.
    if (burner) {
      burner->burn(pairs, viewOf(swap ? view1 : view0, geometry), viewOf(swap ? view0 : view1, geometry));
    }
    pending = rows;
    WriteResult written = writeAll(STDOUT_FILENO, pending);
    if (written == WriteResult::closed)
      return 0;
    if (written == WriteResult::failed) {
      std::fprintf(stderr, "yuv_hstack: write error after %llu frame pairs: %s\n", pairs, std::strerror(errno));
      return 1;
    }
    ++pairs;
  }
  std::fprintf(stderr, "yuv_hstack: %llu frame pairs stacked\n", pairs);
  return 0;
}
