// The whole chain as a user meets it: a side-by-side clip handed to the built program in
// auto-convert mode, with the default Vision Pro target, found tools and all.
#include "Validator.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using mvhevc::test::quote;
using mvhevc::test::run;

constexpr int kViewWidth = 192;
constexpr int kHeight = 108; // 384x108: side by side by its aspect ratio alone
constexpr int kFrames = 24;
const std::string kSystemFfmpeg = "/usr/bin/ffmpeg";

std::vector<std::uint8_t> readBytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A clip whose right eye is the left one shifted by a few pixels, as real stereo differs.
void makeClip(const fs::path &clip, const std::string &videoCodec) {
  const auto made =
      run(quote(kSystemFfmpeg) + " -v error -y -f lavfi -i testsrc2=size=" + std::to_string(kViewWidth) + "x" +
          std::to_string(kHeight) +
          ":rate=24 -f lavfi -i sine=frequency=440 -filter_complex "
          "'[0:v]split[l][r];[r]crop=iw-8:ih:8:0,pad=iw+8:ih[rs];[l][rs]hstack[v]' -map '[v]' -map 1:a "
          "-frames:v " +
          std::to_string(kFrames) + " -t 1 -c:v " + videoCodec + " -pix_fmt yuv420p -c:a aac " + quote(clip.string()));
  ASSERT_EQ(made.status, 0) << made.err;
}

// Both views of the output decode to whole pictures, each close to its half of the input.
void expectTwoViewsOfTheInput(const test::TempDir &dir, const fs::path &clip, const fs::path &output) {
  auto validator = mvhevc::test::validatorFfmpeg();
  if (!validator) {
    if (mvhevc::test::underCi()) {
      ADD_FAILURE() << "the MV-HEVC validator is missing; run scripts/build-validator";
    }
    return;
  }
  for (const int view : {0, 1}) {
    const auto name = "view" + std::to_string(view);
    const auto decoded =
        run(quote(validator->string()) + " -v error -y -i " + quote(output.string()) +
            " -map 0:v:view:" + std::to_string(view) + " -f rawvideo " + quote((dir / (name + ".yuv")).string()));
    ASSERT_EQ(decoded.status, 0) << decoded.err;
    const auto half = run(quote(kSystemFfmpeg) + " -v error -y -i " + quote(clip.string()) +
                          " -fps_mode passthrough -vf crop=" + std::to_string(kViewWidth) + ":" +
                          std::to_string(kHeight) + ":" + std::to_string(view * kViewWidth) +
                          ":0 -pix_fmt yuv420p -f rawvideo " + quote((dir / (name + ".input.yuv")).string()));
    ASSERT_EQ(half.status, 0) << half.err;
    const auto pictures = readBytes(dir / (name + ".yuv"));
    const auto input = readBytes(dir / (name + ".input.yuv"));
    ASSERT_EQ(pictures.size(), static_cast<std::size_t>(kViewWidth * kHeight * 3 / 2 * kFrames)) << name;
    ASSERT_EQ(input.size(), pictures.size()) << name;
    EXPECT_GE(mvhevc::test::psnr(pictures, input), 35.0) << name;
  }
}

TEST(WholeSystem, SideBySideClipBecomesSpatialVideo) {
  if (!fs::exists(kSystemFfmpeg)) {
    GTEST_SKIP() << "no " << kSystemFfmpeg << " to make the clip";
  }
  // A QuickTime clip goes straight to the converter; a Matroska one is remuxed first.
  struct Row {
    std::string clip, videoCodec;
  };
  for (const auto &row : {Row{"holiday.mov", "libx264"}, Row{"concert.mkv", "libx265 -x265-params log-level=error"}}) {
    SCOPED_TRACE(row.clip);
    test::TempDir dir;
    const auto clip = dir / row.clip;
    makeClip(clip, row.videoCodec);
    const auto result = run("cd " + quote(dir.path().string()) + " && env HOME=" + quote((dir / "home").string()) +
                            " XDG_CONFIG_HOME=" + quote((dir / "config").string()) + " LC_ALL=C " +
                            quote((test::buildDir() / "bin/kestrova").string()) + " --input " + quote(row.clip) +
                            " --auto-convert --output out");
    const auto output = dir / "out" / (clip.stem().string() + "_MV-HEVC.mov");
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("\u2705 Conversion complete: " + output.string()), std::string::npos) << result.out;
    ASSERT_TRUE(fs::exists(output)) << result.out;
    expectTwoViewsOfTheInput(dir, clip, output);
  }
}

} // namespace
} // namespace kestrova
