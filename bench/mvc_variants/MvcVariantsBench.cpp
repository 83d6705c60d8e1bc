// mvc_variants_bench [FRAMES [WIDTH HEIGHT]]
// mvc_variants_bench --real BASE.264 VIEW.mvc AUDIO PAIRS WIDTH HEIGHT
//
// Runs the disk-based chain (interleave to a file, decode both views to YUV
// files, encode) and the two zero-disk chains (interleave into a FIFO that
// the streaming decoder reads; interleave to a file, then stream) on the same
// generated view pair, and prints for each the wall time, the bytes the
// process and its children dirtied on disk (/proc/self/io write_bytes; reaped
// children count towards their parent) and the largest work directory seen.
// The decoder is the JM decoder's test double (it decodes nothing, so the
// figures show the cost of moving pictures, not of decoding them), behind
// the real ldecod-pipe and yuv_hstack; ffmpeg is the real one, encoding
// libx265 where VideoToolbox is absent.
//
// With --real the decoder is the real JM decoder
// ($KESTROVA_THIRD_PARTY_PREFIX/bin/ldecod), the views are the two given
// files (PAIRS pictures each of WIDTHxHEIGHT at 24000/1001, such as the
// reference clip's), the sound comes from AUDIO, and all five variants run,
// the two parallel ones with the real parallel-pipeline.sh and nal tools;
// each prints its wall time and decoded pairs per second of wall time (the
// streaming variants decode and encode at once).
#include "MvcStreams.h"
#include "pipeline/FifoPipeline.h"
#include "pipeline/InterleaveStep.h"
#include "pipeline/LdecodDecode.h"
#include "pipeline/ParallelDecode.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/SbsEncoder.h"
#include "pipeline/SbsPipeDecode.h"

#include <fmt/core.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {
namespace fs = std::filesystem;
using namespace kestrova;
using namespace kestrova::pipeline;

void writeView(const fs::path &file, const std::string &stream) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << stream;
}

std::int64_t writtenBytes() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::int64_t value = 0;
  while (io >> key >> value)
    if (key == "write_bytes:")
      return value;
  return -1;
}

std::uintmax_t directoryBytes(const fs::path &directory) {
  std::uintmax_t total = 0;
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(directory, error))
    if (entry.is_regular_file(error))
      total += entry.file_size(error);
  return total;
}

struct Setup {
  fs::path root;
  int frames, width, height;
  /// Real views and sound (--real); empty: generated ones.
  fs::path realBase, realMvc, realAudio;
  double seconds() const { return realBase.empty() ? frames / 24.0 : frames * 1001.0 / 24000.0; }
  fs::path audio() const { return realAudio.empty() ? root / "audio.mkv" : realAudio; }
};

struct Figures {
  double wallSeconds;
  std::int64_t diskBytes;
  std::uintmax_t peakWorkBytes;
  std::uintmax_t outputBytes;
};

/// Runs `chain` in a fresh work directory holding the two views, sampling
/// the work directory's size at every progress report.
Figures measure(const Setup &setup, const std::function<void(const fs::path &work, const ProgressReport &)> &chain) {
  const fs::path work = setup.root / "work";
  fs::remove_all(work);
  fs::create_directories(work);
  if (setup.realBase.empty()) {
    writeView(work / "film.264", test::baseViewStream(setup.frames, setup.width, setup.height));
    writeView(work / "film.mvc", test::mvcViewStream(setup.frames, setup.width, setup.height));
  } else {
    fs::copy_file(setup.realBase, work / "film.264");
    fs::copy_file(setup.realMvc, work / "film.mvc");
  }
  std::uintmax_t peak = directoryBytes(work);
  ProgressReport sample = [&](ConversionStage, double) { peak = std::max(peak, directoryBytes(work)); };
  ::sync();
  const auto before = writtenBytes();
  const auto start = std::chrono::steady_clock::now();
  chain(work, sample);
  const auto stop = std::chrono::steady_clock::now();
  peak = std::max(peak, directoryBytes(work));
  const auto output = fs::file_size(setup.root / "film_SBS.mkv");
  return {std::chrono::duration<double>(stop - start).count(), writtenBytes() - before, peak, output};
}

StreamDecodeRequest request(const Setup &setup, const fs::path &input) {
  StreamDecodeRequest r;
  r.input = input;
  r.workDirectory = input.parent_path();
  r.audioSource = setup.audio();
  r.output = setup.root / "film_SBS.mkv";
  r.preset = QualityPreset::low;
  r.codec = OutputCodec::h265;
  r.duration = setup.seconds();
  r.width = setup.width;
  r.height = setup.height;
  r.frameRateNum = setup.realBase.empty() ? 24 : 24000;
  r.frameRateDen = setup.realBase.empty() ? 1 : 1001;
  return r;
}

void diskBased(const Setup &setup, PipelineEngine &engine, const fs::path &work, const ProgressReport &progress) {
  interleaveNALUnits(engine, work / "film.264", work / "film.mvc", work / "film_interleaved.264");
  fs::remove(work / "film.264");
  fs::remove(work / "film.mvc");
  decodeWithLdecod(engine, work / "film_interleaved.264", work, 2 * setup.frames, progress);
  SbsEncodeRequest encode;
  encode.leftView = work / "output_ViewId0000.yuv";
  encode.rightView = work / "output_ViewId0001.yuv";
  encode.audioSource = setup.audio();
  encode.output = setup.root / "film_SBS.mkv";
  encode.preset = QualityPreset::low;
  encode.codec = OutputCodec::h265;
  encode.duration = setup.seconds();
  encode.width = setup.width;
  encode.height = setup.height;
  encode.frameRateNum = setup.realBase.empty() ? 24 : 24000;
  encode.frameRateDen = setup.realBase.empty() ? 1 : 1001;
  encodeSBS(engine, encode, progress);
  fs::remove(work / "film_interleaved.264");
}

void fifo(const Setup &setup, PipelineEngine &engine, const fs::path &work, const ProgressReport &progress) {
  if (::mkfifo((work / "interleave_fifo.264").c_str(), 0644) != 0)
    throw std::runtime_error("mkfifo failed");
  runFifoPipeline(engine, work / "film.264", work / "film.mvc", request(setup, work / "interleave_fifo.264"), progress);
  fs::remove(work / "film.264");
  fs::remove(work / "film.mvc");
}

void pipeFromFile(const Setup &setup, PipelineEngine &engine, const fs::path &work, const ProgressReport &progress) {
  interleaveNALUnits(engine, work / "film.264", work / "film.mvc", work / "film_interleaved.264");
  fs::remove(work / "film.264");
  fs::remove(work / "film.mvc");
  decodeSBSPipe(engine, request(setup, work / "film_interleaved.264"), progress);
  fs::remove(work / "film_interleaved.264");
}

void parallel(const Setup &setup, PipelineEngine &engine, const fs::path &work, const ProgressReport &progress) {
  interleaveNALUnits(engine, work / "film.264", work / "film.mvc", work / "film_interleaved.264");
  decodeSBSParallel(engine, request(setup, work / "film_interleaved.264"), ParallelOptions{}, progress);
}

void dualSplit(const Setup &setup, PipelineEngine &engine, const fs::path &work, const ProgressReport &progress) {
  ParallelOptions options;
  options.dualSplitMvc = work / "film.mvc";
  decodeSBSParallel(engine, request(setup, work / "film.264"), options, progress);
}

} // namespace

int main(int argc, char **argv) {
  std::signal(SIGPIPE, SIG_IGN); // as the program does
  const bool real = argc == 8 && std::string(argv[1]) == "--real";
  Setup setup{KESTROVA_BENCH_SCRATCH,
              argc > 1 ? std::atoi(argv[1]) : 48,
              argc > 3 ? std::atoi(argv[2]) : 1920,
              argc > 3 ? std::atoi(argv[3]) : 1080,
              {},
              {},
              {}};
  std::string decoder = KESTROVA_FAKE_LDECOD_PATH;
  if (real) {
    const char *prefix = std::getenv("KESTROVA_THIRD_PARTY_PREFIX");
    if (prefix == nullptr) {
      fmt::print(stderr, "--real needs KESTROVA_THIRD_PARTY_PREFIX (scripts/build-tools)\n");
      return 2;
    }
    decoder = std::string(prefix) + "/bin/ldecod";
    setup = {KESTROVA_BENCH_SCRATCH, std::atoi(argv[5]),    std::atoi(argv[6]),   std::atoi(argv[7]),
             fs::absolute(argv[2]),  fs::absolute(argv[3]), fs::absolute(argv[4])};
  }
  fs::remove_all(setup.root);
  // Shaped like an installed tools folder, where ldecod-pipe finds ldecod.
  const fs::path tools = setup.root / "share/kestrova/tools";
  fs::create_directories(tools);
  fs::create_symlink(decoder, tools / "ldecod");
  fs::copy_file(KESTROVA_LDECOD_PIPE_PATH, tools / "ldecod-pipe");
  fs::create_symlink(KESTROVA_YUV_HSTACK_PATH, tools / "yuv_hstack");
  fs::create_symlink("/usr/bin/ffmpeg", tools / "ffmpeg");
  if (real)
    for (const char *helper : {"parallel-pipeline.sh", "nal-scan", "nal-dual-split", "nal-interleave"})
      fs::create_symlink(fs::path(KESTROVA_LDECOD_PIPE_PATH).parent_path() / helper, tools / helper);
  if (!real && std::system(("/usr/bin/ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=48000 -t " +
                            std::to_string(setup.seconds()) + " -c:a aac '" + (setup.root / "audio.mkv").string() + "'")
                               .c_str()) != 0)
    return 1;

  tools::SystemPrograms programs;
  programs.which = (setup.root / "no-which").string();
  PipelineEngine engine(
      tools::ToolLocator(tools::BundlePaths{"", "/nonexistent", ""}, programs, {(tools / "").string()}));
  const double pictureBytes = setup.width * setup.height * 1.5;
  fmt::print("{} frame pairs of {}x{} ({:.1f} MB of decoded pictures per view), {} decoder, libx265 encode, {}\n",
             setup.frames, setup.width, setup.height, setup.frames * pictureBytes / 1e6, real ? "JM" : "stand-in",
             real ? "1 round" : "2 rounds");
  fmt::print("{:<28} {:>9} {:>9} {:>16} {:>18} {:>10}\n", "variant", "wall s", "pairs/s", "disk written MB",
             "peak work dir MB", "output MB");
  struct Chain {
    const char *name;
    void (*run)(const Setup &, PipelineEngine &, const fs::path &, const ProgressReport &);
  };
  std::vector<Chain> chains{
      {"E disk-based", diskBased}, {"C FIFO (zero-disk)", fifo}, {"D pipe from file", pipeFromFile}};
  if (real)
    chains.insert(chains.begin(), {{"A dual-split parallel", dualSplit}, {"B parallel", parallel}});
  for (int round = 0; round < (real ? 1 : 2); ++round)
    for (const auto &chain : chains) {
      auto figures = measure(setup, [&](const fs::path &work, const ProgressReport &progress) {
        chain.run(setup, engine, work, progress);
      });
      fmt::print("{:<28} {:>9.2f} {:>9.2f} {:>16.1f} {:>18.1f} {:>10.2f}\n", chain.name, figures.wallSeconds,
                 setup.frames / figures.wallSeconds, figures.diskBytes / 1e6, figures.peakWorkBytes / 1e6,
                 figures.outputBytes / 1e6);
    }
  fs::remove_all(setup.root);
  return 0;
}
