// Blu-ray 3D films whose GOPs are open, cut into chunks at those I pictures:
// every picture of the film comes out, each as the JM decoder decodes it from
// the whole stream, with either decoder; where a piece would leave out
// leading pictures other pictures refer to, only edge264 decodes past the
// gap, and with the JM decoder the film is one chunk.
#include "OpenGopFilm.h"
#include "Validator.h"

#include "support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

namespace kestrova::bluray::test {
namespace {

namespace fs = std::filesystem;
using mvhevc::test::quote;
using mvhevc::test::run;

struct Row {
  const char *name;
  bool pyramid;    ///< leading pictures that are reference pictures
  bool edge264;    ///< the fast decoder is installed; else the JM decoder decodes
  bool sideBySide; ///< to full side by side, else to Vision Pro
  const char *chunks;
  friend void PrintTo(const Row &row, std::ostream *out) { *out << row.name; }
};

// The program's command line with settings of its own: chunks of half a second, to `target`.
std::string converting(const fs::path &program, const fs::path &dir, const std::string &target) {
  kestrova::test::writeFile(dir / "config/kestrova/settings.json",
                            "{\"qualityPreset\": \"Balanced\", \"outputTarget\": \"" + target +
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
  EXPECT_NE(cut.out.find("chunk_001.hevc chunk_002.hevc chunk_003.hevc start at open GOPs"), std::string::npos)
      << cut.out;
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
