// A Blu-ray 3D film to Vision Pro and to full side by side in chunks, with
// the real tools: the chunked file equals the one-piece file, and a run
// killed midway is taken up again by the next run, which encodes only what
// is missing.
#include "RealTools.h"
#include "Validator.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace kestrova::bluray::test {
namespace {

namespace fs = std::filesystem;
using mvhevc::test::psnr;
using mvhevc::test::quote;
using mvhevc::test::run;

constexpr int kRepeats = 5, kPairs = 24 * kRepeats; // IDR access units at 0, 10, 24, 34, 48, ...

// What the conversion writes: the target in the settings, the file's name,
// its chunks' extension; the chunk length that compares it with the
// one-piece file. An x264 chunk's frames before its end lack the look-ahead
// the one-piece encode gives them (about 1 dB on the flat right eye of a
// 24-picture chunk): a film's minute-long chunks meet that once in 1440
// pictures, so the side-by-side film is cut once (2 chunks), not four times.
struct Target {
  const char *name, *setting, *file, *chunk, *chunkSeconds, *chunks;
};
const Target kVisionPro{"VisionPro", "Apple Vision Pro (MV-HEVC)", "clip120.mov", ".hevc", "1", "5 chunks"};
const Target kSideBySide{"SideBySide", "SBS 3D (MKV)", "clip120_SBS.mkv", ".mp4", "2.5", "2 chunks"};

class ChunkedRun : public testing::TestWithParam<Target> {
protected:
  void SetUp() override {
    std::string whyNot;
    if (!findRealSetup(tools_, clips_, whyNot, {.validator = true}))
      GTEST_SKIP() << whyNot;
    // clip24 five times over as one 5-second disc stream: the five copies'
    // own IDRs are where chunks can start.
    clip_ = repeatedClip(*tools_, *clips_, kRepeats, 6, 440);
    program_ = installProgram(dir_ / "install", *tools_, Variant::dualSplitParallel);
  }

  // The conversion as a shell command with its own settings; `namespaced`
  // runs it as the first process of a PID namespace of its own.
  std::string command(const std::string &settings, const std::string &options, bool namespaced = false) {
    const fs::path config = dir_ / ("config" + std::to_string(++configs_));
    kestrova::test::writeFile(config / "kestrova/settings.json",
                              "{\"qualityPreset\": \"Medium\", \"outputTarget\": \"" + std::string(GetParam().setting) +
                                  "\"" + settings + "}");
    return std::string("env HOME=") + quote((dir_ / "home").string()) + " XDG_CONFIG_HOME=" + quote(config.string()) +
           " LC_ALL=C " + (namespaced ? "unshare -p -f --mount-proc --kill-child " : "") + quote(program_.string()) +
           " --auto-convert --input " + quote(clip_.string()) + " " + options;
  }

  // Each eye's PSNR against the JM decoder's pictures of the source: the
  // movie's layers, or the halves of the side-by-side pictures.
  std::array<double, 2> eyePsnr(const fs::path &movie) {
    const auto &reference = referenceViews(*tools_, *clips_);
    std::array<double, 2> result{};
    const bool sideBySide = GetParam().chunk == kSideBySide.chunk;
    const auto pictures = sideBySide ? decodePictures(movie, dir_.path()) : std::vector<std::uint8_t>{};
    for (int view = 0; view < 2; ++view) {
      const fs::path raw = dir_ / "layer.yuv";
      if (!sideBySide) {
        const auto decoded =
            run(quote(mvhevc::test::validatorFfmpeg()->string()) + " -v error -y -i " + quote(movie.string()) +
                " -map 0:v:view:" + std::to_string(view) + " -pix_fmt yuv420p -f rawvideo " + quote(raw.string()));
        EXPECT_EQ(decoded.status, 0) << decoded.err;
      }
      const auto &once = view ? reference.right : reference.left;
      std::vector<std::uint8_t> expected;
      for (int i = 0; i < kRepeats; ++i)
        expected.insert(expected.end(), once.begin(), once.end());
      const auto layer = sideBySide ? halfOf(pictures, 2 * 1920, 1080, view) : readBytes(raw);
      EXPECT_EQ(layer.size(), expected.size()) << "view " << view;
      result[static_cast<std::size_t>(view)] = layer.size() == expected.size() ? psnr(layer, expected) : 0;
    }
    return result;
  }

  kestrova::test::TempDir dir_;
  std::optional<RealTools> tools_;
  std::optional<fs::path> clips_;
  fs::path clip_, program_;
  int configs_ = 0;
};

TEST_P(ChunkedRun, EqualsTheOnePieceRun) {
  const fs::path one = dir_ / "one" / GetParam().file, chunked = dir_ / "chunked" / GetParam().file;
  const auto first = run(command("", "--output " + quote(one.parent_path().string())) + " 2>&1");
  ASSERT_EQ(first.status, 0) << first.out;
  EXPECT_EQ(first.out.find("Chunked encode"), std::string::npos) << "a 5-second film is one chunk of 60 s";
  // Two jobs at once; 1-second chunks are five of 24 pictures.
  const auto second = run(command(std::string(", \"chunkSeconds\": ") + GetParam().chunkSeconds,
                                  "--jobs 2 --output " + quote(chunked.parent_path().string())) +
                          " 2>&1");
  ASSERT_EQ(second.status, 0) << second.out;
  EXPECT_NE(second.out.find(GetParam().chunks), std::string::npos) << second.out;
  const auto tracks = [](const fs::path &file) {
    return run("ffprobe -v error -show_entries stream=codec_type,codec_name,width,height:stream_tags=language,"
               "stereo_mode:stream_disposition=default:chapter=start_time,end_time -of compact " +
               quote(file.string()))
        .out;
  };
  EXPECT_EQ(tracks(chunked), tracks(one));

  const MediaFacts a = probeMedia(one), b = probeMedia(chunked);
  EXPECT_EQ(a.videoFrames, kPairs);
  EXPECT_EQ(b.videoFrames, kPairs);
  EXPECT_NEAR(b.videoSeconds, a.videoSeconds, 0.001);
  EXPECT_NEAR(b.audioSeconds, a.audioSeconds, 0.001);
  EXPECT_NEAR(b.audioStart - b.videoStart, a.audioStart - a.videoStart, 0.001);
  EXPECT_NEAR(static_cast<double>(fs::file_size(chunked)), static_cast<double>(fs::file_size(one)),
              0.03 * static_cast<double>(fs::file_size(one)));
  const auto oneEyes = eyePsnr(one), chunkedEyes = eyePsnr(chunked);
  for (std::size_t eye = 0; eye < 2; ++eye) {
    EXPECT_GT(oneEyes[eye], 30.0) << "eye " << eye;
    EXPECT_NEAR(chunkedEyes[eye], oneEyes[eye], 0.1) << "eye " << eye;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(chunked.parent_path()), fs::directory_iterator()), 1)
      << "only the movie stays";
}

// Ten chunks, one job: killed with -9 after six chunks; a finished chunk is
// then cut short as a crash while writing would leave it. The next run
// reuses the five whole ones and encodes the other five.
TEST_P(ChunkedRun, KilledRunIsTakenUpWhereItStopped) {
  const fs::path out = dir_ / "out";
  const std::string settings = ", \"chunkSeconds\": 0.4";
  const std::string started = command(settings, "--jobs 1 --output " + quote(out.string()), true) + " >" +
                              quote((dir_ / "killed.log").string()) + " 2>&1 </dev/null & echo $!";
  const auto launched = run(started);
  const int pid = std::stoi(launched.out);
  auto finishedChunks = [&] {
    int finished = 0;
    for (const auto &folder : fs::directory_iterator(out, std::filesystem::directory_options::skip_permission_denied)) {
      std::ifstream manifest(folder.path() / "chunks/manifest");
      for (std::string line; std::getline(manifest, line);)
        finished += line.starts_with("chunk ") && !line.ends_with(" -");
    }
    return finished;
  };
  for (int i = 0; i < 2400 && (!fs::exists(out) || finishedChunks() < 6); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(finishedChunks(), 6) << kestrova::test::readFile(dir_ / "killed.log");
  run("kill -9 " + std::to_string(pid) + "; while kill -0 " + std::to_string(pid) + " 2>/dev/null; do sleep 0.1; done");
  EXPECT_FALSE(fs::exists(out / GetParam().file));
  for (const auto &folder : fs::directory_iterator(out)) {
    const fs::path chunk = folder.path() / (std::string("chunks/chunk_002") + GetParam().chunk);
    if (fs::exists(chunk))
      fs::resize_file(chunk, fs::file_size(chunk) - 100);
  }

  const auto rerun = run(command(settings, "--jobs 1 --output " + quote(out.string()), true) + " 2>&1");
  ASSERT_EQ(rerun.status, 0) << rerun.out;
  EXPECT_NE(rerun.out.find("Resuming: 5 of 10 chunks done"), std::string::npos) << rerun.out;
  EXPECT_NE(rerun.out.find("10 chunks of about 0.4 s, 5 to encode"), std::string::npos) << rerun.out;
  EXPECT_EQ(probeMedia(out / GetParam().file).videoFrames, kPairs);
  EXPECT_GT(eyePsnr(out / GetParam().file)[0], 30.0);
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1) << "only the movie stays";
}

INSTANTIATE_TEST_SUITE_P(Targets, ChunkedRun, testing::Values(kVisionPro, kSideBySide),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace kestrova::bluray::test
