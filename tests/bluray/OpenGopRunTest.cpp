// Blu-ray 3D films whose GOPs are open (I pictures with recovery points, not
// IDR pictures, as many disc encoders write them), from the real encoder, cut
// into chunks at those I pictures: every picture of the film comes out, each
// as the JM decoder decodes it from the whole stream, with either decoder;
// where a piece would leave out leading pictures other pictures refer to,
// only edge264 decodes past the gap, and with the JM decoder the film is one
// chunk.
#include "RealTools.h"
#include "Validator.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kestrova::bluray::test {
namespace {

namespace fs = std::filesystem;
using mvhevc::test::quote;
using mvhevc::test::run;

constexpr int kWidth = 320, kHeight = 192, kPictures = 48; // an I picture every 12, the first IDR
constexpr std::size_t kPictureBytes = kWidth * kHeight * 3 / 2;
// A picture decoded from the wrong references, or its neighbour in its place
// (24 dB apart on the moving left eye), falls far below this; the encoded
// pictures are at 41 dB or more.
constexpr double kLowestPicture = 36.0;

struct Row {
  const char *name;
  bool pyramid;    ///< leading pictures that are reference pictures
  bool edge264;    ///< the fast decoder is installed; else the JM decoder decodes
  bool sideBySide; ///< to full side by side, else to Vision Pro
  const char *chunks;
  friend void PrintTo(const Row &row, std::ostream *out) { *out << row.name; }
};

class OpenGopRun : public testing::TestWithParam<Row> {
protected:
  // The clip make-open-gop-clip.sh makes, made once under the build tree and kept.
  fs::path clipFolder(const RealTools &tools, const fs::path &clips) {
    const fs::path folder =
        kestrova::test::buildDir() / (GetParam().pyramid ? "bluray-open-gop-pyramid" : "bluray-open-gop");
    if (!fs::exists(folder / "clip.m2ts")) {
      const auto made =
          run(quote((kestrova::test::sourceDir() / "tests/bluray/scripts/make-open-gop-clip.sh").string()) + " " +
              quote(tools.ldecod.parent_path().string()) + " " + quote(clips.string()) + " " + quote(folder.string()) +
              " " + std::to_string(kPictures) + " " + std::to_string(kWidth) + "x" + std::to_string(kHeight) + " " +
              (GetParam().pyramid ? "1" : "0") + " 2>&1");
      EXPECT_EQ(made.status, 0) << made.out;
    }
    return folder;
  }

  kestrova::test::TempDir dir_;
};

TEST_P(OpenGopRun, EveryPictureOfTheFilmComesOutOfItsChunks) {
  std::optional<RealTools> tools;
  std::optional<fs::path> clips;
  std::string whyNot;
  if (!findRealSetup(tools, clips, whyNot, {.validator = true}))
    GTEST_SKIP() << whyNot;
  const fs::path clip = clipFolder(*tools, *clips);
  const fs::path program = installProgram(dir_ / "install", *tools, Variant::dualSplitParallel, GetParam().edge264);
  const fs::path config = dir_ / "config";
  const std::string target = GetParam().sideBySide ? "SBS 3D (MKV)" : "Apple Vision Pro (MV-HEVC)";
  kestrova::test::writeFile(config / "kestrova/settings.json", "{\"qualityPreset\": \"Medium\", \"outputTarget\": \"" +
                                                                   target + "\", \"chunkSeconds\": 0.5}");
  const auto converted =
      run("env HOME=" + quote((dir_ / "home").string()) + " XDG_CONFIG_HOME=" + quote(config.string()) + " LC_ALL=C " +
          quote(program.string()) + " --auto-convert --jobs 2 --input " + quote((clip / "clip.m2ts").string()) +
          " --output " + quote((dir_ / "out").string()) + " 2>&1");
  ASSERT_EQ(converted.status, 0) << converted.out;
  EXPECT_NE(converted.out.find(GetParam().chunks), std::string::npos) << converted.out;

  const fs::path movie = dir_ / "out" / (GetParam().sideBySide ? "clip_SBS.mkv" : "clip.mov");
  const auto sideBySide = GetParam().sideBySide ? decodePictures(movie, dir_.path()) : std::vector<std::uint8_t>{};
  for (int eye = 0; eye < 2; ++eye) {
    SCOPED_TRACE("eye " + std::to_string(eye));
    const auto pictures = GetParam().sideBySide ? halfOf(sideBySide, 2 * kWidth, kHeight, eye)
                                                : mvhevc::test::decodeView(*mvhevc::test::validatorFfmpeg(), movie, eye,
                                                                           dir_ / "eye.yuv");
    const auto reference = readBytes(clip / (eye == 0 ? "ref_ViewId0000.yuv" : "ref_ViewId0001.yuv"));
    ASSERT_EQ(pictures.size(), kPictures * kPictureBytes);
    ASSERT_EQ(reference.size(), kPictures * kPictureBytes);
    for (std::size_t at = 0; at < pictures.size(); at += kPictureBytes) {
      const auto picture = [at](const std::vector<std::uint8_t> &bytes) {
        return std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                         bytes.begin() + static_cast<std::ptrdiff_t>(at + kPictureBytes));
      };
      EXPECT_GT(mvhevc::test::psnr(picture(pictures), picture(reference)), kLowestPicture)
          << "picture " << at / kPictureBytes;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Decoders, OpenGopRun,
                         testing::Values(Row{"JmDecoderVisionPro", false, false, false, "4 chunks of about 0.5 s"},
                                         Row{"Edge264PyramidSideBySide", true, true, true, "4 chunks of about 0.5 s"},
                                         Row{"JmDecoderPyramidOneChunk", true, false, false,
                                             "it is encoded as one chunk"}),
                         [](const testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });

} // namespace
} // namespace kestrova::bluray::test
