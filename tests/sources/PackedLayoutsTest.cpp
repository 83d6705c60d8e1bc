// Packed 3D sources of every layout, made by ffmpeg, through the real
// ffmpeg and MVHEVCConverter to both targets: each eye of the output must
// be its own source half, back at full size.
#include "SourcesFixture.h"
#include "Validator.h"
#include "support/MediaFiles.h"
#include "tools/Process.h"

#include <gtest/gtest.h>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;
using test::SourcesFixture;

constexpr int kEyeWidth = 128;
constexpr int kEyeHeight = 64;
constexpr int kFrames = 12;
constexpr std::size_t kEyeBytes = kEyeWidth * kEyeHeight * 3 / 2 * kFrames;

struct Layout {
  StereoLayout layout;
  const char *pack;                   ///< filter that packs the eyes [l] and [r] of kEyeWidth x kEyeHeight
  const char *firstHalf, *secondHalf; ///< crops of the packed picture
};

// The half side-by-side source has square pixels, as most downloads do; the
// half top-and-bottom one keeps ffmpeg's 1:2, the flag for the packed pair.
const Layout kLayouts[] = {
    {StereoLayout::fullSideBySide, "[l][r]hstack", "crop=iw/2:ih:0:0", "crop=iw/2:ih:iw/2:0"},
    {StereoLayout::halfSideBySide, "[l]scale=iw/2:ih[a];[r]scale=iw/2:ih[b];[a][b]hstack,setsar=1", "crop=iw/2:ih:0:0",
     "crop=iw/2:ih:iw/2:0"},
    {StereoLayout::fullTopAndBottom, "[l][r]vstack", "crop=iw:ih/2:0:0", "crop=iw:ih/2:0:ih/2"},
    {StereoLayout::halfTopAndBottom, "[l]scale=iw:ih/2[a];[r]scale=iw:ih/2[b];[a][b]vstack", "crop=iw:ih/2:0:0",
     "crop=iw:ih/2:0:ih/2"},
};

// Raw 4:2:0 pictures of `input` through `filter`, at one eye's size.
std::vector<std::uint8_t> pictures(const fs::path &input, const std::string &filter, const fs::path &raw) {
  return test::rawPictures(input, filter, kEyeWidth, kEyeHeight, raw);
}

// One decoded view of an MV-HEVC file (needs the MV-HEVC decoding ffmpeg).
std::vector<std::uint8_t> view(const fs::path &validator, const fs::path &movie, int index, const fs::path &raw) {
  tools::ProcessLaunch launch;
  launch.executable = validator;
  launch.arguments = {"-v", "error",    "-y",        "-i", movie.string(), "-map", "0:v:view:" + std::to_string(index),
                      "-f", "rawvideo", raw.string()};
  auto result = tools::runAndCollect(launch);
  EXPECT_TRUE(result.status.success()) << result.standardError;
  std::string bytes = test::readFile(raw);
  return {bytes.begin(), bytes.end()};
}

TEST(PackedLayouts, EveryLayoutToBothTargetsKeepsEachEye) {
  const auto validator = mvhevc::test::validatorFfmpeg();
  if (!validator && mvhevc::test::underCi())
    ADD_FAILURE() << "the MV-HEVC validator is missing; run scripts/build-validator";
  for (const auto &layout : kLayouts) {
    for (const bool swap : {false, true}) {
      for (const auto target : {OutputTarget::sbs3D, OutputTarget::visionPro}) {
        SCOPED_TRACE(std::string(rawValue(layout.layout)) + (swap ? " swapped to " : " to ") +
                     std::string(rawValue(target)));
        if (target == OutputTarget::visionPro && !validator)
          continue;
        SourcesFixture f;
        f.tools.addReal("MVHEVCConverter", test::buildDir() / "share/kestrova/tools/MVHEVCConverter");
        const fs::path source = f.dir / "film.mkv";
        // Lossless, with sound.
        test::makeTwoEyeSource(source, std::to_string(kEyeWidth) + "x" + std::to_string(kEyeHeight),
                               std::string(layout.pack) + "[v]", kFrames, 0.5, {"-qp", "0"});
        auto first = pictures(source, layout.firstHalf, f.dir / "first.yuv");
        auto second = pictures(source, layout.secondHalf, f.dir / "second.yuv");
        const auto &left = swap ? second : first;
        const auto &right = swap ? first : second;

        auto job = f.job(source, target);
        job.layout = layout.layout;
        job.swapEyes = swap;
        SourceFileInfo info;
        info.url = source;
        info.duration = 0.5;
        const fs::path output = f.convert(job, info).outputPath;
        std::vector<std::uint8_t> eyes[2];
        if (target == OutputTarget::sbs3D) {
          EXPECT_EQ(output.filename(), "film_SBS.mkv");
          const std::string aspect = test::probe({"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                  "stream=width,height,sample_aspect_ratio", "-of", "csv=p=0"},
                                                 output);
          EXPECT_TRUE(aspect.starts_with(std::to_string(2 * kEyeWidth) + "," + std::to_string(kEyeHeight) + ",1:1"))
              << aspect;
          eyes[0] = pictures(output, "crop=iw/2:ih:0:0", f.dir / "left.yuv");
          eyes[1] = pictures(output, "crop=iw/2:ih:iw/2:0", f.dir / "right.yuv");
        } else {
          EXPECT_EQ(output.filename(), "film_MV-HEVC.mov");
          eyes[0] = view(*validator, output, 0, f.dir / "left.yuv");
          eyes[1] = view(*validator, output, 1, f.dir / "right.yuv");
        }
        ASSERT_EQ(eyes[0].size(), kEyeBytes);
        ASSERT_EQ(eyes[1].size(), kEyeBytes);
        EXPECT_GE(mvhevc::test::psnr(eyes[0], left), 30.0);
        EXPECT_GE(mvhevc::test::psnr(eyes[1], right), 30.0);
        EXPECT_LT(mvhevc::test::psnr(eyes[0], right), 20.0) << "the eyes are swapped";
      }
    }
  }
}

} // namespace
} // namespace kestrova::pipeline
