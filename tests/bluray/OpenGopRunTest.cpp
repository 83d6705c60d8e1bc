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

#include <fstream>
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

// The clip make-open-gop-clip.sh makes, made once under the build tree and kept.
fs::path openGopClip(const RealTools &tools, const fs::path &clips, bool pyramid) {
  const fs::path folder = kestrova::test::buildDir() / (pyramid ? "bluray-open-gop-pyramid" : "bluray-open-gop");
  if (!fs::exists(folder / "clip.m2ts")) {
    const auto made = run(quote((kestrova::test::sourceDir() / "tests/bluray/scripts/make-open-gop-clip.sh").string()) +
                          " " + quote(tools.ldecod.parent_path().string()) + " " + quote(clips.string()) + " " +
                          quote(folder.string()) + " " + std::to_string(kPictures) + " " + std::to_string(kWidth) +
                          "x" + std::to_string(kHeight) + " " + (pyramid ? "1" : "0") + " 2>&1");
    EXPECT_EQ(made.status, 0) << made.out;
  }
  return folder;
}

// Every picture of each eye of `movie` as the JM decoder decodes it from the whole stream of `clip`.
void expectEveryPicture(const fs::path &movie, const fs::path &clip, bool sideBySide, const fs::path &scratch) {
  const auto packed = sideBySide ? decodePictures(movie, scratch) : std::vector<std::uint8_t>{};
  for (int eye = 0; eye < 2; ++eye) {
    SCOPED_TRACE("eye " + std::to_string(eye));
    const auto pictures =
        sideBySide ? halfOf(packed, 2 * kWidth, kHeight, eye)
                   : mvhevc::test::decodeView(*mvhevc::test::validatorFfmpeg(), movie, eye, scratch / "eye.yuv");
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

// The program's command line with settings of its own: chunks of half a second, to `target`.
std::string converting(const fs::path &program, const fs::path &dir, const std::string &target) {
  kestrova::test::writeFile(dir / "config/kestrova/settings.json",
                            "{\"qualityPreset\": \"Medium\", \"outputTarget\": \"" + target +
                                "\", \"chunkSeconds\": 0.5}");
  return "env HOME=" + quote((dir / "home").string()) + " XDG_CONFIG_HOME=" + quote((dir / "config").string()) +
         " LC_ALL=C " + quote(program.string()) + " --auto-convert";
}

class OpenGopRun : public testing::TestWithParam<Row> {
protected:
  kestrova::test::TempDir dir_;
};

TEST_P(OpenGopRun, EveryPictureOfTheFilmComesOutOfItsChunks) {
  std::optional<RealTools> tools;
  std::optional<fs::path> clips;
  std::string whyNot;
  if (!findRealSetup(tools, clips, whyNot, {.validator = true}))
    GTEST_SKIP() << whyNot;
  const fs::path clip = openGopClip(*tools, *clips, GetParam().pyramid);
  const fs::path program = installProgram(dir_ / "install", *tools, Variant::dualSplitParallel, GetParam().edge264);
  const std::string target = GetParam().sideBySide ? "SBS 3D (MKV)" : "Apple Vision Pro (MV-HEVC)";
  const auto converted =
      run(converting(program, dir_.path(), target) + " --jobs 2 --input " + quote((clip / "clip.m2ts").string()) +
          " --output " + quote((dir_ / "out").string()) + " 2>&1");
  ASSERT_EQ(converted.status, 0) << converted.out;
  EXPECT_NE(converted.out.find(GetParam().chunks), std::string::npos) << converted.out;
  expectEveryPicture(dir_ / "out" / (GetParam().sideBySide ? "clip_SBS.mkv" : "clip.mov"), clip, GetParam().sideBySide,
                     dir_.path());
}

INSTANTIATE_TEST_SUITE_P(Decoders, OpenGopRun,
                         testing::Values(Row{"JmDecoderVisionPro", false, false, false, "4 chunks of about 0.5 s"},
                                         Row{"Edge264PyramidSideBySide", true, true, true, "4 chunks of about 0.5 s"},
                                         Row{"JmDecoderPyramidOneChunk", true, false, false,
                                             "it is encoded as one chunk"}),
                         [](const testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });

// A film cut where only edge264 can start (leading pictures that are references), one of its
// chunk jobs run by a machine without edge264: the job fails, says why and leaves no chunk,
// and the same conversion again encodes that chunk.
TEST(OpenGopChunkJob, AMachineWithoutEdge264FailsTheChunkAndTheNextRunEncodesItAgain) {
  std::optional<RealTools> tools;
  std::optional<fs::path> clips;
  std::string whyNot;
  if (!findRealSetup(tools, clips, whyNot, {.validator = true}))
    GTEST_SKIP() << whyNot;
  kestrova::test::TempDir dir;
  const fs::path clip = openGopClip(*tools, *clips, true), out = dir / "out";
  const fs::path with = installProgram(dir / "with", *tools, Variant::dualSplitParallel, true);
  const fs::path without = installProgram(dir / "without", *tools, Variant::dualSplitParallel, false);
  const std::string convert = converting(with, dir.path(), "Apple Vision Pro (MV-HEVC)") + " --input " +
                              quote((clip / "clip.m2ts").string()) + " --output " + quote(out.string());
  const auto cut = run(convert + " --cut-only 2>&1");
  ASSERT_EQ(cut.status, 0) << cut.out;
  fs::path commands;
  for (const auto &entry : fs::directory_iterator(out))
    commands = entry.path() / "chunks/commands";
  std::ifstream list(commands);
  std::string first, second;
  ASSERT_TRUE(std::getline(list, first) && std::getline(list, second)) << cut.out;
  const auto job = run("PATH=" + quote(without.parent_path().string()) + ":$PATH sh -c " + quote(second));
  EXPECT_NE(job.status, 0) << job.err;
  EXPECT_NE(job.err.find("no edge264-pipe"), std::string::npos) << job.err;
  EXPECT_FALSE(fs::exists(commands.parent_path() / "chunk_001.hevc")) << "a failed job left its chunk";

  const auto joined = run(convert + " 2>&1");
  ASSERT_EQ(joined.status, 0) << joined.out;
  expectEveryPicture(out / "clip.mov", clip, false, dir.path());
}

} // namespace
} // namespace kestrova::bluray::test
