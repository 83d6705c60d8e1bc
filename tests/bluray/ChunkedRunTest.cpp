// A Blu-ray 3D film to Vision Pro in chunks, with the real tools: the chunked
// movie equals the one-encoder movie, and a run killed midway is taken up
// again by the next run, which encodes only what is missing.
#include "RealTools.h"
#include "Validator.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>

namespace kestrova::bluray::test {
namespace {

namespace fs = std::filesystem;
using mvhevc::test::quote;
using mvhevc::test::run;

constexpr int kRepeats = 5, kPairs = 24 * kRepeats; // IDR access units at 0, 10, 24, 34, 48, ...

class ChunkedRun : public testing::Test {
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
                              "{\"qualityPreset\": \"Medium\", \"outputTarget\": \"Apple Vision Pro (MV-HEVC)\"" +
                                  settings + "}");
    return std::string("env HOME=") + quote((dir_ / "home").string()) + " XDG_CONFIG_HOME=" + quote(config.string()) +
           " LC_ALL=C " + (namespaced ? "unshare -p -f --mount-proc --kill-child " : "") + quote(program_.string()) +
           " --auto-convert --input " + quote(clip_.string()) + " " + options;
  }

  // Each eye's PSNR against the JM decoder's pictures of the source, over the
  // whole film and picture by picture.
  struct EyeQuality {
    double whole = 0;
    std::vector<double> pictures;
  };
  std::array<EyeQuality, 2> eyeQuality(const fs::path &movie) {
    constexpr std::size_t kPicture = 1920 * 1080 * 3 / 2;
    const auto &reference = referenceViews(*tools_, *clips_);
    std::array<EyeQuality, 2> result{};
    for (int view = 0; view < 2; ++view) {
      const fs::path raw = dir_ / "layer.yuv";
      const auto decoded =
          run(quote(mvhevc::test::validatorFfmpeg()->string()) + " -v error -y -i " + quote(movie.string()) +
              " -map 0:v:view:" + std::to_string(view) + " -pix_fmt yuv420p -f rawvideo " + quote(raw.string()));
      EXPECT_EQ(decoded.status, 0) << decoded.err;
      const auto &once = view ? reference.right : reference.left;
      const auto layer = readBytes(raw);
      EXPECT_EQ(layer.size(), once.size() * kRepeats) << "view " << view;
      if (layer.size() != once.size() * kRepeats)
        continue;
      auto &eye = result[static_cast<std::size_t>(view)];
      double squares = 0;
      for (std::size_t at = 0; at < layer.size(); at += kPicture) {
        double sum = 0;
        for (std::size_t i = 0; i < kPicture; ++i) {
          const double d = double(layer[at + i]) - double(once[(at + i) % once.size()]);
          sum += d * d;
        }
        squares += sum;
        eye.pictures.push_back(sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * kPicture / sum));
      }
      eye.whole = squares == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(layer.size()) / squares);
    }
    return result;
  }

  kestrova::test::TempDir dir_;
  std::optional<RealTools> tools_;
  std::optional<fs::path> clips_;
  fs::path clip_, program_;
  int configs_ = 0;
};

TEST_F(ChunkedRun, EqualsTheOneEncoderRun) {
  const fs::path one = dir_ / "one/clip120.mov", chunked = dir_ / "chunked/clip120.mov";
  const auto first = run(command("", "--output " + quote(one.parent_path().string())) + " 2>&1");
  ASSERT_EQ(first.status, 0) << first.out;
  EXPECT_EQ(first.out.find("Chunked encode"), std::string::npos) << "a 5-second film is one chunk of 60 s";
  // 1-second chunks: five of 24 pictures, two jobs at once.
  const auto second =
      run(command(", \"chunkSeconds\": 1", "--jobs 2 --output " + quote(chunked.parent_path().string())) + " 2>&1");
  ASSERT_EQ(second.status, 0) << second.out;
  EXPECT_NE(second.out.find("5 chunks"), std::string::npos) << second.out;

  const MediaFacts a = probeMedia(one), b = probeMedia(chunked);
  EXPECT_EQ(a.videoFrames, kPairs);
  EXPECT_EQ(b.videoFrames, kPairs);
  EXPECT_NEAR(b.videoSeconds, a.videoSeconds, 0.001);
  EXPECT_NEAR(b.audioSeconds, a.audioSeconds, 0.001);
  EXPECT_NEAR(b.audioStart - b.videoStart, a.audioStart - a.videoStart, 0.001);
  EXPECT_NEAR(static_cast<double>(fs::file_size(chunked)), static_cast<double>(fs::file_size(one)),
              0.03 * static_cast<double>(fs::file_size(one)));
  const auto oneEyes = eyeQuality(one), chunkedEyes = eyeQuality(chunked);
  for (std::size_t eye = 0; eye < 2; ++eye) {
    EXPECT_GT(oneEyes[eye].whole, 30.0) << "eye " << eye;
    EXPECT_NEAR(chunkedEyes[eye].whole, oneEyes[eye].whole, 0.1) << "eye " << eye;
    // No dip at a chunk border: the last picture of a chunk and the first two
    // of the next stay within 1 dB of the film's median picture.
    auto pictures = chunkedEyes[eye].pictures;
    if (pictures.size() != std::size_t{kPairs})
      continue;
    std::nth_element(pictures.begin(), pictures.begin() + kPairs / 2, pictures.end());
    const double median = pictures[kPairs / 2];
    for (int border = 24; border < kPairs; border += 24)
      for (int at = border - 1; at <= border + 1; ++at)
        EXPECT_GT(chunkedEyes[eye].pictures[std::size_t(at)], median - 1.0) << "eye " << eye << ", picture " << at;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(chunked.parent_path()), fs::directory_iterator()), 1)
      << "only the movie stays";
}

// Ten chunks, one job: killed with -9 after six chunks; a finished chunk is
// then cut short as a crash while writing would leave it. The next run
// reuses the five whole ones and encodes the other five.
TEST_F(ChunkedRun, KilledRunIsTakenUpWhereItStopped) {
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
  EXPECT_FALSE(fs::exists(out / "clip120.mov"));
  for (const auto &folder : fs::directory_iterator(out)) {
    const fs::path chunk = folder.path() / "chunks/chunk_002.hevc";
    if (fs::exists(chunk))
      fs::resize_file(chunk, fs::file_size(chunk) - 100);
  }

  const auto rerun = run(command(settings, "--jobs 1 --output " + quote(out.string()), true) + " 2>&1");
  ASSERT_EQ(rerun.status, 0) << rerun.out;
  EXPECT_NE(rerun.out.find("Resuming: 5 of 10 chunks done"), std::string::npos) << rerun.out;
  EXPECT_NE(rerun.out.find("10 chunks of about 0.4 s, 5 to encode"), std::string::npos) << rerun.out;
  EXPECT_EQ(probeMedia(out / "clip120.mov").videoFrames, kPairs);
  EXPECT_GT(eyeQuality(out / "clip120.mov")[0].whole, 30.0);
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1) << "only the movie stays";
}

} // namespace
} // namespace kestrova::bluray::test
