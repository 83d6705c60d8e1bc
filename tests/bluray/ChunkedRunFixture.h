#pragma once

// What the chunked runs with the real tools share: a five-second Blu-ray 3D
// clip, a private installation of the program, the conversion to a target as
// a command with its own settings, and each eye's PSNR against the JM
// decoder's pictures.
#include "RealTools.h"
#include "Validator.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <thread>

namespace kestrova::bluray::test {

namespace fs = std::filesystem;
using mvhevc::test::quote;
using mvhevc::test::run;

constexpr int kRepeats = 5, kPairs = 24 * kRepeats; // IDR access units at 0, 10, 24, 34, 48, ...

// What the conversion writes: the target in the settings, the file's name,
// its chunks' extension; the chunk length that compares it with the
// one-piece file. An x264 chunk's frames before its end lack the look-ahead
// the one-piece encode gives them (about 1 dB on the flat right eye of a
// 24-picture chunk): a film's minute-long chunks meet that once in 1440
// pictures, so the side-by-side film is cut once (2 chunks), not four times.
// `borderEvery`: the pictures between chunk borders at that length. The
// x264 pictures at the border measured at most 0.94 dB under the film's
// median (the second chunk's first, on the nearly flat right eye: 54.45
// against 55.39 dB; the one before it 0.71 dB).
struct Target {
  const char *name, *setting, *file, *chunk, *chunkSeconds, *chunks;
  int borderEvery;
};
inline const Target kVisionPro{"VisionPro", "Apple Vision Pro (MV-HEVC)", "clip120.mov", ".hevc", "1", "5 chunks", 24};
inline const Target kSideBySide{"SideBySide", "SBS 3D (MKV)", "clip120_SBS.mkv", ".mp4", "2.5", "2 chunks", 72};
/// A side-by-side film to Vision Pro.
inline const Target kPacked{"Packed", "Apple Vision Pro (MV-HEVC)", "sbs120_MV-HEVC.mov", ".hevc", "1", "5 chunks", 24};

class ChunkedRunFixture : public testing::Test {
protected:
  /// The conversion's target: Vision Pro unless a parameterised test says otherwise.
  virtual const Target &target() const { return kVisionPro; }

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
                              "{\"qualityPreset\": \"Balanced\", \"outputTarget\": \"" + std::string(target().setting) +
                                  "\"" + settings + "}");
    return std::string("env HOME=") + quote((dir_ / "home").string()) + " XDG_CONFIG_HOME=" + quote(config.string()) +
           " LC_ALL=C " + (namespaced ? "unshare -p -f --mount-proc --kill-child " : "") + quote(program_.string()) +
           " --auto-convert --input " + quote(clip_.string()) + " " + options;
  }

  // Ten chunks, one job: killed with -9 after six chunks; a finished chunk
  // is then cut short as a crash while writing would leave it. The next run
  // reuses the other whole ones and encodes the rest; the movie it wrote.
  fs::path killAndTakeUp() {
    const fs::path out = dir_ / "out";
    const std::string settings = ", \"chunkSeconds\": 0.4";
    const std::string started = command(settings, "--jobs 1 --output " + quote(out.string()), true) + " >" +
                                quote((dir_ / "killed.log").string()) + " 2>&1 </dev/null & echo $!";
    const int pid = std::stoi(run(started).out);
    // A chunk is whole once its record is there, which is written last.
    auto wholeChunks = [&] {
      int whole = 0;
      for (const auto &folder : fs::directory_iterator(out, fs::directory_options::skip_permission_denied))
        for (int i = 0; i < 10; ++i)
          whole += fs::exists(folder.path() / ("chunks/chunk_00" + std::to_string(i) + target().chunk + ".frames"));
      return whole;
    };
    for (int i = 0; i < 2400 && (!fs::exists(out) || wholeChunks() < 6); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    run("kill -9 " + std::to_string(pid) + "; while kill -0 " + std::to_string(pid) +
        " 2>/dev/null; do sleep 0.1; done");
    const int whole = wholeChunks();
    EXPECT_GE(whole, 6) << kestrova::test::readFile(dir_ / "killed.log");
    EXPECT_LT(whole, 10) << "killed before the end";
    EXPECT_FALSE(fs::exists(out / target().file));
    for (const auto &folder : fs::directory_iterator(out)) {
      const fs::path chunk = folder.path() / (std::string("chunks/chunk_002") + target().chunk);
      if (fs::exists(chunk))
        fs::resize_file(chunk, fs::file_size(chunk) - 100);
    }

    const auto rerun = run(command(settings, "--jobs 1 --output " + quote(out.string()), true) + " 2>&1");
    EXPECT_EQ(rerun.status, 0) << rerun.out;
    EXPECT_NE(rerun.out.find("Resuming: " + std::to_string(whole - 1) + " of 10 chunks done"), std::string::npos)
        << rerun.out;
    EXPECT_NE(rerun.out.find("10 chunks of about 0.4 s, " + std::to_string(11 - whole) + " to encode"),
              std::string::npos)
        << rerun.out;
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1) << "only the movie stays";
    return out / target().file;
  }

  // Each eye's PSNR against the JM decoder's pictures of the source (the
  // movie's layers, or the halves of the side-by-side pictures), over the
  // whole film and picture by picture.
  struct EyeQuality {
    double whole = 0;
    std::vector<double> pictures;
  };
  std::array<EyeQuality, 2> eyeQuality(const fs::path &movie) {
    constexpr std::size_t kPicture = 1920 * 1080 * 3 / 2;
    const auto &reference = referenceViews(*tools_, *clips_);
    std::array<EyeQuality, 2> result{};
    const bool sideBySide = target().chunk == kSideBySide.chunk;
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
      const auto layer = sideBySide ? halfOf(pictures, 2 * 1920, 1080, view) : readBytes(raw);
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

  // The film is then a side-by-side file of the disc clip's length, with key
  // frames where the disc clip has its IDRs: two test pictures side by side
  // at full size, declared so.
  void usePackedFilm() {
    clip_ = dir_ / "sbs120.mkv";
    const auto made = run("ffmpeg -v error -y -f lavfi -i testsrc2=size=960x540:rate=24:duration=5 -f lavfi -i "
                          "testsrc=size=960x540:rate=24:duration=5 -f lavfi -i sine=duration=5 -filter_complex "
                          "'[0:v][1:v]hstack[v]' -map '[v]' -map 2:a -c:v libx264 -g 12 -keyint_min 12 "
                          "-sc_threshold 0 -pix_fmt yuv420p -c:a aac -metadata:s:v:0 stereo_mode=left_right " +
                          quote(clip_.string()));
    ASSERT_EQ(made.status, 0) << made.err;
  }

  kestrova::test::TempDir dir_;
  std::optional<RealTools> tools_;
  std::optional<fs::path> clips_;
  fs::path clip_, program_;
  int configs_ = 0;
};

} // namespace kestrova::bluray::test
