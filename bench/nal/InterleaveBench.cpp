// Interleaving speed against a plain copy of the same bytes.
//
//   nal_interleave_bench [--gib N] [--output PATH] [--scratch DIR]
//
// Generates a base/MVC pair of N GiB together (default 2) in a scratch folder
// under the build tree, then measures, on page-cached input, a plain copy
// (both inputs read in 4 MiB chunks, every chunk written to one output) and
// the interleaver, three times each in alternating order, each in its own child process
// so that its peak resident memory is its own. The output defaults to
// /dev/null, so the figures are about reading, scanning and writing, not the
// disk. The scratch folder is removed at the end.

#include "BenchStreams.h"

#include "core/UniqueFd.h"
#include "nal/NALInterleaver.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fmt/format.h>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
namespace fs = std::filesystem;
using namespace kestrova::nal;
using kestrova::UniqueFd;

constexpr std::size_t kChunk = 4u << 20;

struct Options {
  double gib = 2;
  fs::path output = "/dev/null";
  fs::path scratch = KESTROVA_BENCH_SCRATCH;
};

Options parse(int argc, char **argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--gib")
      options.gib = std::stod(argv[i + 1]);
    else if (name == "--output")
      options.output = argv[i + 1];
    else if (name == "--scratch")
      options.scratch = argv[i + 1];
    else
      throw std::invalid_argument("unknown option " + name);
  }
  return options;
}

/// Reads both inputs chunk by chunk in turn and writes every chunk out.
void plainCopy(const fs::path &base, const fs::path &mvc, const fs::path &output) {
  UniqueFd in[] = {UniqueFd(::open(base.c_str(), O_RDONLY | O_CLOEXEC)),
                   UniqueFd(::open(mvc.c_str(), O_RDONLY | O_CLOEXEC))};
  UniqueFd out(::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  for (auto &fd : in)
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL); // as the reader does
  std::vector<std::uint8_t> buffer(kChunk);
  for (bool more = true; more;) {
    more = false;
    for (auto &fd : in) {
      const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
      if (got <= 0)
        continue;
      more = true;
      for (ssize_t done = 0; done < got;) {
        const ssize_t n = ::write(out.get(), buffer.data() + done, static_cast<std::size_t>(got - done));
        if (n <= 0)
          throw std::runtime_error("copy write failed");
        done += n;
      }
    }
  }
}

struct Measurement {
  double seconds = 0;
  double cpuSeconds = 0; // user + system: steadier than wall time on a busy machine
  long peakRssKiB = 0;
};

double toSeconds(const timeval &t) {
  return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

/// Runs `work` in a child process; its wall time and its own peak RSS.
Measurement inChild(const std::function<void()> &work) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0)
    throw std::runtime_error("pipe failed");
  std::fflush(stdout); // or the child would print the parent's pending lines again
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    const auto start = std::chrono::steady_clock::now();
    work();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool sent = ::write(pipeFds[1], &seconds, sizeof seconds) == sizeof seconds;
    std::fflush(stdout); // _exit skips stdio's own flush
    ::_exit(sent ? 0 : 1);
  }
  ::close(pipeFds[1]);
  Measurement m;
  const bool received = ::read(pipeFds[0], &m.seconds, sizeof m.seconds) == sizeof m.seconds;
  ::close(pipeFds[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("benchmark child failed");
  m.peakRssKiB = usage.ru_maxrss;
  m.cpuSeconds = toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
  return m;
}

struct ScratchDir {
  fs::path path;
  explicit ScratchDir(fs::path p) : path(std::move(p)) { fs::create_directories(path); }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

} // namespace

int main(int argc, char **argv) try {
  const Options options = parse(argc, argv);
  const ScratchDir scratch(options.scratch);
  const fs::path base = scratch.path / "bench.264";
  const fs::path mvc = scratch.path / "bench.mvc";
  const auto target = static_cast<std::uint64_t>(options.gib * double(1ULL << 30));

  const auto generation = inChild([&] { bench::generatePair(base, mvc, target, 42); });
  const double total = double(fs::file_size(base) + fs::file_size(mvc));
  fmt::print("input: {:.2f} GiB ({} + {} bytes), generated in {:.1f} s; output: {}\n", total / double(1ULL << 30),
             fs::file_size(base), fs::file_size(mvc), generation.seconds, options.output.string());

  Measurement bestCopy{1e300, 1e300, 0}, bestInterleave{1e300, 1e300, 0};
  long interleaveRss = 0;
  // Three rounds, the order swapped every round, so that neither side
  // always runs first on a shared machine; the best of each counts.
  for (int round = 0; round < 3; ++round) {
    const auto runCopy = [&] { return inChild([&] { plainCopy(base, mvc, options.output); }); };
    const auto runInterleave = [&] {
      return inChild([&] {
        NALInterleaver().interleave(base, mvc, options.output, [&](const std::string &line) {
          if (line.starts_with("[NALInterleaver] Complete: "))
            fmt::print("{}\n", line);
        });
      });
    };
    Measurement copy, interleave;
    if (round % 2 == 0) {
      copy = runCopy();
      interleave = runInterleave();
    } else {
      interleave = runInterleave();
      copy = runCopy();
    }
    fmt::print("round {}: copy {:.2f} GB/s, interleave {:.2f} GB/s (peak RSS {:.1f} MiB)\n", round + 1,
               total / copy.seconds / 1e9, total / interleave.seconds / 1e9, double(interleave.peakRssKiB) / 1024);
    bestCopy.seconds = std::min(bestCopy.seconds, copy.seconds);
    bestCopy.cpuSeconds = std::min(bestCopy.cpuSeconds, copy.cpuSeconds);
    bestInterleave.seconds = std::min(bestInterleave.seconds, interleave.seconds);
    bestInterleave.cpuSeconds = std::min(bestInterleave.cpuSeconds, interleave.cpuSeconds);
    interleaveRss = std::max(interleaveRss, interleave.peakRssKiB);
  }
  fmt::print("plain copy:  {:.2f} GB/s wall, {:.2f} GB per CPU second\n", total / bestCopy.seconds / 1e9,
             total / bestCopy.cpuSeconds / 1e9);
  fmt::print("interleave:  {:.2f} GB/s wall, {:.2f} GB per CPU second\n", total / bestInterleave.seconds / 1e9,
             total / bestInterleave.cpuSeconds / 1e9);
  fmt::print("ratio:       {:.2f} x copy (wall), {:.2f} x copy (CPU)\n", bestCopy.seconds / bestInterleave.seconds,
             bestCopy.cpuSeconds / bestInterleave.cpuSeconds);
  fmt::print("peak RSS of the interleaving process: {:.1f} MiB\n", double(interleaveRss) / 1024);
  return 0;
} catch (const std::exception &error) {
  fmt::print(stderr, "nal_interleave_bench: {}\n", error.what());
  return 1;
}
