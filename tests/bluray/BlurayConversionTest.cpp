// A Blu-ray 3D clip converted by the built program as a user runs it, with
// the real tsMuxeR and JM decoder, through each way of decoding the views and
// for both targets: the result has every picture, the sound, and each eye in
// its place.
#include "RealTools.h"
#include "Validator.h"

#include "support/RealMedia.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <tuple>

namespace kestrova::bluray::test {
namespace {

namespace fs = std::filesystem;
using mvhevc::test::psnr;
using mvhevc::test::quote;
using mvhevc::test::run;

constexpr int kWidth = 1920, kHeight = 1080, kPairs = 24;
// 24 pictures at 24000/1001.
constexpr double kSeconds = kPairs * 1001.0 / 24000.0;

struct Source {
  const char *file;
  bool rightFirst; // the base view is the right eye
};
const Source kDisc{"clip24.m2ts", false};
const Source kMatroskaLeftFirst{"clip24_lr.mkv", false};
const Source kMatroskaRightFirst{"clip24_rl.mkv", true};
const Variant kVariants[] = {Variant::dualSplitParallel, Variant::parallel, Variant::fifo, Variant::pipeFromFile,
                             Variant::diskBased};
// Vision Pro keeping no side-by-side file: the decoded pairs go straight
// into the MV-HEVC encoder, whatever parallel helpers are at hand.
enum class Target { sbs, visionPro, visionProOneEncode };

using Case = std::tuple<Source, Variant, Target>;

class BlurayConversion : public testing::TestWithParam<Case> {
protected:
  void SetUp() override {
    std::string whyNot;
    if (!findRealSetup(tools_, clips_, whyNot))
      GTEST_SKIP() << whyNot;
  }

  void expectEyesInPlace(const std::vector<std::uint8_t> &pictures, bool viewsSwapped, const std::string &what) {
    bluray::test::expectEyesInPlace(referenceViews(*tools_, *clips_), pictures, viewsSwapped, what);
  }

  std::optional<RealTools> tools_;
  std::optional<fs::path> clips_;
};

TEST_P(BlurayConversion, EveryPictureSoundAndEachEyeInPlace) {
  const auto &[source, variant, target] = GetParam();
  kestrova::test::TempDir dir;
  const fs::path program = installProgram(dir / "install", *tools_, variant);
  const bool visionPro = target != Target::sbs, oneEncode = target == Target::visionProOneEncode;
  kestrova::test::writeFile(dir / "config/kestrova/settings.json",
                            std::string("{\"qualityPreset\": \"Balanced\", \"outputTarget\": \"") +
                                (visionPro ? "Apple Vision Pro (MV-HEVC)" : "SBS 3D (MKV)") + "\"" +
                                (oneEncode ? "}" : ", \"keepSBSIntermediate\": true}"));
  const fs::path input = *clips_ / source.file, output = dir / "out";
  // Pipe from file is what is left when no FIFO can be made anywhere: not
  // in the work folder, nor in a scratch folder (/proc takes none).
  const std::string scratch = variant == Variant::pipeFromFile ? "/proc" : (dir / "scratch").string();
  fs::create_directories(dir / "scratch");
  const auto result =
      run("cd " + quote(dir.path().string()) + " && env HOME=" + quote((dir / "home").string()) +
          " XDG_CONFIG_HOME=" + quote((dir / "config").string()) + " XDG_RUNTIME_DIR=" + quote(scratch) +
          " TMPDIR=" + quote(scratch) + " LC_ALL=C " + quote(program.string()) + " --input " + quote(input.string()) +
          " --auto-convert --output " + quote(output.string()) + " 2>&1");
  ASSERT_EQ(result.status, 0) << result.out;
  // The tools folder decided the variant.
  // The road taken is the last one the log gives.
  const auto roadAt = result.out.rfind("Road: ");
  const std::string road = result.out.substr(roadAt, result.out.find('\n', roadAt) - roadAt);
  const bool parallel = road.find("variant B,") != std::string::npos;
  const bool dualSplit = road.find("variant A,") != std::string::npos;
  const bool fifo = road.find("variant C,") != std::string::npos;
  // A Vision Pro run decodes once, into the MV-HEVC encoder (and the
  // side-by-side one when that file is kept), unless the disk-based tools
  // folder lacks the streaming decoder.
  const bool direct = visionPro && variant != Variant::diskBased;
  EXPECT_EQ(result.out.find("in one encode") != std::string::npos, direct && oneEncode) << result.out;
  EXPECT_EQ(result.out.find("side by side at once") != std::string::npos, direct && !oneEncode) << result.out;
  EXPECT_EQ(dualSplit, variant == Variant::dualSplitParallel && !direct);
  EXPECT_EQ(parallel, variant == Variant::parallel && !direct);
  EXPECT_EQ(fifo, variant == Variant::fifo && !direct);
  const std::string base = input.stem().string();
  const fs::path sbs = output / (base + (visionPro ? "_SBS.mov" : "_SBS.mkv"));
  const fs::path final = visionPro ? output / (base + ".mov") : sbs;

  const MediaFacts facts = probeMedia(final);
  EXPECT_EQ(facts.videoFrames, kPairs) << result.out;
  EXPECT_NEAR(facts.videoSeconds, kSeconds, 0.05) << result.out;
  if (direct) {
    // The sound comes from the source itself and ends with the pictures.
    EXPECT_NEAR(facts.audioStart, facts.videoStart, 0.025) << result.out;
    EXPECT_NEAR(facts.audioSeconds, kSeconds, 0.05) << result.out;
  }
  // The disk-based variant keeps the disc's AC3 in its side-by-side file, which
  // the MV-HEVC converter then drops; until every variant ends with the same
  // sound, that row checks everything else and is reported as skipped.
  const bool knownSoundGap = variant == Variant::diskBased && visionPro && !facts.hasAudio;
  EXPECT_TRUE(facts.hasAudio || knownSoundGap) << result.out;
  if (!oneEncode)
    expectEyesInPlace(decodePictures(sbs, dir.path()), source.rightFirst, sbs.filename().string());

  if (visionPro) {
    // Both layers of the spatial video, when the validator is there to read them.
    if (const auto validator = mvhevc::test::validatorFfmpeg()) {
      std::vector<std::uint8_t> layers[2];
      for (int view = 0; view < 2; ++view) {
        const fs::path raw = dir / ("layer" + std::to_string(view) + ".yuv");
        const auto decoded =
            run(quote(validator->string()) + " -v error -y -i " + quote(final.string()) +
                " -map 0:v:view:" + std::to_string(view) + " -pix_fmt yuv420p -f rawvideo " + quote(raw.string()));
        ASSERT_EQ(decoded.status, 0) << decoded.err;
        layers[view] = readBytes(raw);
      }
      // Side by side again, so that the layers are checked as the halves are.
      expectEyesInPlace(sideBySide(layers[0], layers[1], kWidth, kHeight), source.rightFirst,
                        final.filename().string() + " layers");
    } else if (mvhevc::test::underCi()) {
      ADD_FAILURE() << "the MV-HEVC validator is missing; run scripts/build-validator";
    }
  }

  // Nothing of the run is left behind: only the results in the output
  // folder, no process still at work on it.
  std::vector<std::string> left;
  for (const auto &entry : fs::directory_iterator(output))
    left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  const std::vector<std::string> expected = oneEncode   ? std::vector<std::string>{base + ".mov"}
                                            : visionPro ? std::vector<std::string>{base + ".mov", base + "_SBS.mov"}
                                                        : std::vector<std::string>{base + "_SBS.mkv"};
  EXPECT_EQ(left, expected);
  EXPECT_EQ(processesMentioning(dir.path()), std::vector<int>{});
  if (knownSoundGap)
    GTEST_SKIP() << "the disk-based variant's spatial video has no sound (AC3 dropped by the MV-HEVC step)";
}

// A disc's folder is read-only, and a USB drive is exFAT (no FIFOs, no
// links): the program started from the one writes into the other.
TEST(BlurayFolders, FromAReadOnlySourceFolderIntoAnExfatOutputFolder) {
  std::string whyNot;
  std::optional<RealTools> tools;
  std::optional<fs::path> clips;
  if (!findRealSetup(tools, clips, whyNot))
    GTEST_SKIP() << whyNot;
  kestrova::test::TempDir dir;
  auto source = kestrova::test::ExfatMount::create(dir / "source", 64, whyNot);
  auto output = source ? kestrova::test::ExfatMount::create(dir / "output", 1024, whyNot) : nullptr;
  if (!output)
    GTEST_SKIP() << "no exFAT file system to test on: " << whyNot;
  fs::copy_file(*clips / "clip24.m2ts", source->path() / "clip24.m2ts");
  ASSERT_TRUE(source->remountReadOnly());
  kestrova::test::writeFile(dir / "config/kestrova/settings.json",
                            "{\"qualityPreset\": \"Balanced\", \"outputTarget\": \"SBS 3D (MKV)\"}");
  fs::create_directories(dir / "scratch");
  for (const Variant variant : {Variant::dualSplitParallel, Variant::parallel, Variant::fifo, Variant::diskBased}) {
    SCOPED_TRACE(variantName(variant));
    const fs::path program = installProgram(dir / variantName(variant), *tools, variant);
    const fs::path folder = output->path() / variantName(variant);
    const auto result = run("cd " + quote(source->path().string()) + " && env HOME=" + quote((dir / "home").string()) +
                            " XDG_CONFIG_HOME=" + quote((dir / "config").string()) + " XDG_RUNTIME_DIR=" +
                            quote((dir / "scratch").string()) + " LC_ALL=C " + quote(program.string()) +
                            " --input clip24.m2ts --auto-convert --output " + quote(folder.string()) + " 2>&1");
    ASSERT_EQ(result.status, 0) << result.out;
    const MediaFacts facts = probeMedia(folder / "clip24_SBS.mkv");
    EXPECT_EQ(facts.videoFrames, kPairs) << result.out;
    EXPECT_TRUE(facts.hasAudio) << result.out;
    // E falls back for want of ldecod-pipe; none may fall back to D.
    EXPECT_EQ(result.out.find("variant D,"), std::string::npos) << result.out;
    std::vector<std::string> left;
    for (const auto &entry : fs::directory_iterator(folder))
      left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"clip24_SBS.mkv"});
    EXPECT_TRUE(fs::is_empty(dir / "scratch")) << "FIFO folders left";
  }
}

std::string caseName(const testing::TestParamInfo<Case> &info) {
  const auto &[source, variant, target] = info.param;
  const char *targetName = target == Target::sbs ? "_SBS" : target == Target::visionPro ? "_VisionPro" : "_OneEncode";
  std::string name = std::string(source.file) + "_" + variantName(variant) + targetName;
  for (char &c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)))
      c = '_';
  return name;
}

// The disc stream through every variant to both targets.
INSTANTIATE_TEST_SUITE_P(Disc, BlurayConversion,
                         testing::Combine(testing::Values(kDisc), testing::ValuesIn(kVariants),
                                          testing::Values(Target::sbs, Target::visionPro)),
                         caseName);

// The Matroska files differ from the disc only before the decoder (tsMuxeR's
// sub-track demux, misplaced prefix units, the right-first swap): each
// variant once and each target at least once per file keeps the group to a
// few minutes of CI.
INSTANTIATE_TEST_SUITE_P(Matroska, BlurayConversion,
                         testing::Values(Case{kMatroskaLeftFirst, Variant::dualSplitParallel, Target::sbs},
                                         Case{kMatroskaLeftFirst, Variant::fifo, Target::visionPro},
                                         Case{kMatroskaRightFirst, Variant::parallel, Target::sbs},
                                         Case{kMatroskaRightFirst, Variant::pipeFromFile, Target::visionPro},
                                         Case{kMatroskaRightFirst, Variant::diskBased, Target::sbs}),
                         caseName);

// Vision Pro in one encode: from the disc through a FIFO and through an
// interleaved file, and the right-first Matroska file for the eye order.
INSTANTIATE_TEST_SUITE_P(OneEncode, BlurayConversion,
                         testing::Values(Case{kDisc, Variant::fifo, Target::visionProOneEncode},
                                         Case{kDisc, Variant::pipeFromFile, Target::visionProOneEncode},
                                         Case{kMatroskaRightFirst, Variant::parallel, Target::visionProOneEncode}),
                         caseName);

} // namespace
} // namespace kestrova::bluray::test
