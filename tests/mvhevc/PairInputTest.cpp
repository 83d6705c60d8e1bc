#include "BoxTree.h"
#include "StreamChecker.h"
#include "Validator.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace kestrova::mvhevc::test {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 320;
constexpr int kHeight = 180;
constexpr int kPairs = 12;
constexpr std::size_t kViewBytes = kWidth * kHeight * 3 / 2;
const std::string kSystemFfmpeg = "/usr/bin/ffmpeg";

void writeBytes(const fs::path &path, const std::uint8_t *data, std::size_t size) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
}

// Two clearly different eyes, as a decoder writes them: view 0's picture, then view 1's, per
// pair. `first` is the eye written first.
std::vector<std::uint8_t> interleave(const std::vector<std::uint8_t> &first, const std::vector<std::uint8_t> &second,
                                     std::size_t pairs) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < pairs; ++i) {
    const auto at = static_cast<std::ptrdiff_t>(i * kViewBytes);
    out.insert(out.end(), first.begin() + at, first.begin() + at + static_cast<std::ptrdiff_t>(kViewBytes));
    out.insert(out.end(), second.begin() + at, second.begin() + at + static_cast<std::ptrdiff_t>(kViewBytes));
  }
  return out;
}

// The eyes as raw pictures and source files with a disc's kind of sound (AC3), made once for the
// suite.
class PairInput : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!fs::exists(kSystemFfmpeg)) {
      return;
    }
    dir_ = std::make_unique<kestrova::test::TempDir>();
    const auto ffmpeg = quote(kSystemFfmpeg) + " -v error -y ";
    const auto size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    const auto frames = " -frames:v " + std::to_string(kPairs) + " -pix_fmt yuv420p -f rawvideo ";
    // Two disc-like transport streams: sound starting with the pictures, and 0.2 s after them.
    const auto source = [&](const std::string &delay, const std::string &name) {
      return ffmpeg + "-f lavfi -t 0.5 -i testsrc2=size=" + size + ":rate=24 -itsoffset " + delay +
             " -f lavfi -t 0.5 -i sine=frequency=440:sample_rate=48000 -c:v mpeg2video -c:a ac3 -f mpegts " +
             quote(path(name));
    };
    const auto made =
        run(ffmpeg + "-f lavfi -i testsrc2=size=" + size + ":rate=24" + frames + quote(path("left.yuv")) + " && " +
            ffmpeg + "-f lavfi -i testsrc2=size=" + size + ":rate=24 -vf hflip,negate" + frames +
            quote(path("right.yuv")) + " && " + source("0", "even.m2ts") + " && " + source("0.2", "late.m2ts"));
    made_ = made.status == 0 ? "" : made.err;
  }
  static void TearDownTestSuite() { dir_.reset(); }

  void SetUp() override {
    if (!dir_) {
      GTEST_SKIP() << "no " << kSystemFfmpeg << " to make the test pictures";
    }
    ASSERT_EQ(made_, "");
  }

  static std::string path(const std::string &name) { return (*dir_ / name).string(); }

  // The converter on the view pairs in `pairs`, into `out`, with `options` after the picture format.
  static RunResult convert(const std::string &pairs, const std::string &options, const std::string &out = "out.mov",
                           const std::string &preset = "ultrafast") {
    return run("KESTROVA_MVHEVC_PRESET=" + preset + " " + converter() + " - " + quote(path(out)) +
               " 0.85 --view-size " + std::to_string(kWidth) + "x" + std::to_string(kHeight) + " --frame-rate 24 " +
               options + " < " + quote(path(pairs)));
  }

  static inline std::unique_ptr<kestrova::test::TempDir> dir_;
  static inline std::string made_;
};

TEST_F(PairInput, ViewsMatchTheEyesInEitherOrderWithSoundInSync) {
  const auto left = readBytes(path("left.yuv"));
  const auto right = readBytes(path("right.yuv"));
  ASSERT_EQ(left.size(), kViewBytes * kPairs);
  const auto validator = requireValidator();
  struct Case {
    const char *order;
    bool rightFirst;
    const char *source;
    double soundStart; ///< seconds after the first picture
  };
  for (const auto &c : {Case{"left-first", false, "even.m2ts", 0}, Case{"right-first", true, "late.m2ts", 0.2}}) {
    SCOPED_TRACE(c.order);
    const auto pairs = c.rightFirst ? interleave(right, left, kPairs) : interleave(left, right, kPairs);
    writeBytes(path("pairs.yuv"), pairs.data(), pairs.size());
    const auto result =
        convert("pairs.yuv", "--pairs 12 --eye-order " + std::string(c.order) + " --sound " + quote(path(c.source)));
    ASSERT_EQ(result.status, 0) << result.err;

    const auto facts = checkStream(path("out.mov"));
    EXPECT_EQ(facts.samples, static_cast<std::size_t>(kPairs));
    const auto sound = std::find_if(facts.tracks.begin(), facts.tracks.end(), [](const auto &t) { return !t.video; });
    ASSERT_NE(sound, facts.tracks.end()) << "no sound track";
    // The AAC encoder's priming is skipped by the edit; the sound follows silence for as long as
    // it started after the pictures, and ends with the 0.5 s of pictures (to a whole AC3 frame).
    EXPECT_EQ(sound->editMediaTime, 1024);
    EXPECT_NEAR(sound->trackSeconds, 0.5, 1536.0 / 48000);
    const auto decoded = run(quote(kSystemFfmpeg) + " -v error -y -i " + quote(path("out.mov")) +
                             " -map 0:a -ac 1 -f s16le " + quote(path("sound.raw")));
    ASSERT_EQ(decoded.status, 0) << decoded.err;
    const auto samples = readBytes(path("sound.raw"));
    // Mean loudness of the 50 ms from `from` seconds on.
    const auto loudness = [&](double from) {
      double sum = 0;
      const auto first = static_cast<std::size_t>(from * 48000) * 2;
      for (std::size_t at = first; at + 1 < std::min(samples.size(), first + 4800); at += 2) {
        sum += std::abs(static_cast<std::int16_t>(samples[at] | samples[at + 1] << 8));
      }
      return sum / 2400;
    };
    if (c.soundStart > 0) {
      EXPECT_LT(loudness(c.soundStart - 0.06), 10) << "sound before its time";
    }
    EXPECT_GT(loudness(c.soundStart + 0.01), 1000) << "no sound where it should start";

    if (!validator) {
      continue;
    }
    for (const int view : {0, 1}) {
      const auto name = "view" + std::to_string(view) + ".yuv";
      const auto pictures = decodeView(*validator, path("out.mov"), view, path(name));
      EXPECT_EQ(pictures.size(), kViewBytes * kPairs) << name;
      EXPECT_GE(psnr(pictures, view == 0 ? left : right), 35.0) << name;
    }
  }
}

TEST_F(PairInput, InputEndingInsideAPairFailsAndLeavesNoOutput) {
  fs::remove(path("out.mov"));
  const auto left = readBytes(path("left.yuv"));
  const auto pairs = interleave(left, left, 3);
  writeBytes(path("short.yuv"), pairs.data(), pairs.size() - kViewBytes / 2);
  const auto result = convert("short.yuv", "--pairs 12");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("pair 3"), std::string::npos) << result.err;
  EXPECT_FALSE(fs::exists(path("out.mov")));
  for (const auto &entry : fs::directory_iterator(dir_->path())) {
    EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos) << entry.path();
  }
}

TEST_F(PairInput, JoinedChunksEqualOneRunAndBrokenChunksAreRefused) {
  const auto left = readBytes(path("left.yuv"));
  const auto right = readBytes(path("right.yuv"));
  const auto all = interleave(left, right, kPairs);
  const auto quarter = all.size() / 4;
  const auto encode = [&](const std::string &preset, std::size_t from, std::size_t count, const std::string &out) {
    writeBytes(path("part.yuv"), all.data() + from, count);
    return convert("part.yuv", "--chunk", out, preset);
  };
  for (std::size_t i = 0; i < 4; ++i) {
    ASSERT_EQ(encode("ultrafast", i * quarter, quarter, "c" + std::to_string(i) + ".hevc").status, 0);
  }
  writeBytes(path("pairs.yuv"), all.data(), all.size());
  ASSERT_EQ(convert("pairs.yuv", "--pairs 12 --sound " + quote(path("even.m2ts"))).status, 0);
  fs::rename(path("out.mov"), path("whole.mov"));
  const auto join = [&](const std::vector<std::string> &chunks) {
    std::string list;
    for (const auto &chunk : chunks) {
      list += " " + quote(path(chunk));
    }
    return run(converter() + " --join " + quote(path("joined.mov")) + list + " --sound " + quote(path("even.m2ts")));
  };
  const auto joined = join({"c0.hevc", "c1.hevc", "c2.hevc", "c3.hevc"});
  ASSERT_EQ(joined.status, 0) << joined.err;

  const auto whole = checkStream(path("whole.mov"));
  const auto facts = checkStream(path("joined.mov"));
  EXPECT_EQ(facts.samples, whole.samples);
  EXPECT_EQ(facts.hvcCArrays, whole.hvcCArrays);
  EXPECT_EQ(facts.lhvCArrays, whole.lhvCArrays);
  EXPECT_EQ(facts.samplesWithoutBothLayers, 0U);
  // Every chunk starts on a key frame, and the joined file's sync table says so.
  const auto *syncs = findBox(readBoxTree(path("joined.mov")), "moov/trak/mdia/minf/stbl/stss");
  ASSERT_NE(syncs, nullptr);
  EXPECT_GE(readBig(syncs->payload, 4, 4), 4U);
  ASSERT_EQ(facts.tracks.size(), whole.tracks.size());
  for (std::size_t i = 0; i < facts.tracks.size(); ++i) {
    EXPECT_EQ(facts.tracks[i].video, whole.tracks[i].video);
    EXPECT_DOUBLE_EQ(facts.tracks[i].trackSeconds, whole.tracks[i].trackSeconds) << "track " << i;
  }
  const auto validator = requireValidator();
  for (int view = 0; validator && view < 2; ++view) {
    const auto decode = [&](const std::string &movie) {
      return decodeView(*validator, path(movie), view, path(movie + ".view.yuv"));
    };
    const auto pictures = decode("joined.mov");
    ASSERT_EQ(pictures.size(), kViewBytes * kPairs) << "view " << view;
    // Each chunk starts over with a key frame; at this size that costs little, and the pictures
    // stay in order.
    EXPECT_NEAR(psnr(pictures, view == 0 ? left : right), psnr(decode("whole.mov"), view == 0 ? left : right), 1.0);
  }
  // Bytes are compared on minute-long chunks in the benchmark; here every third picture is a key frame.

  // An encode whose input ends inside a pair fails and leaves no record to join.
  writeBytes(path("cut.yuv"), all.data(), kViewBytes * 3);
  EXPECT_NE(convert("cut.yuv", "--chunk", "short.hevc").status, 0);
  EXPECT_FALSE(fs::exists(path("short.hevc.frames"))) << "a chunk cut short has a record";

  // Refused, by name, and nothing written: a chunk cut short, one without its record, one
  // encoded with other settings.
  fs::copy_file(path("c1.hevc"), path("cut.hevc"), fs::copy_options::overwrite_existing);
  fs::copy_file(path("c1.hevc.frames"), path("cut.hevc.frames"), fs::copy_options::overwrite_existing);
  fs::resize_file(path("cut.hevc"), fs::file_size(path("cut.hevc")) - 100);
  fs::copy_file(path("c1.hevc"), path("unrecorded.hevc"), fs::copy_options::overwrite_existing);
  ASSERT_EQ(encode("slow", quarter, quarter, "other.hevc").status, 0);
  for (const auto *broken : {"cut.hevc", "unrecorded.hevc", "other.hevc"}) {
    SCOPED_TRACE(broken);
    fs::remove(path("joined.mov"));
    const auto refused = join({"c0.hevc", broken, "c2.hevc"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(path(broken)), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(path("joined.mov")));
  }
}

} // namespace
} // namespace kestrova::mvhevc::test
