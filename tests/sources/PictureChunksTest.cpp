// A packed and a frame-alternate source, made by ffmpeg with a key frame
// every second (closed GOPs, and open ones: x265's default, x264's open-gop), to Vision Pro in one-second chunks with
// the real ffmpeg and MVHEVCConverter: the chunked movie has the one-piece movie's pictures, length and sound, and each
// eye is as close to its source eye (a frame-alternate film's closer: its one-piece road encodes twice).
#include "SourcesFixture.h"
#include "Validator.h"
#include "support/MediaFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;
using test::SourcesFixture;

constexpr int kEyeWidth = 256, kEyeHeight = 144, kPairs = 96; // four seconds at 24 pairs a second

struct Source {
  const char *name;
  Stereo3DMode layout;
  int picturesPerPair;
  /// Packs the eyes [l] and [r] (kEyeWidth x kEyeHeight, 24 a second) into [v].
  const char *pack;
  /// Each eye of a decoded source picture, at one eye's size.
  const char *left, *right;
  /// The encoder's arguments for open GOPs, whose key frames' leading pictures are shown before
  /// them; nothing: closed GOPs.
  std::vector<std::string> openGop = {};
};

constexpr const char *kHalfSbs = "[l]scale=iw/2:ih[a];[r]scale=iw/2:ih[b];[a][b]hstack,setsar=1[v]";
constexpr const char *kAlternate = "[l]settb=1/48,setpts=2*N[a];[r]settb=1/48,setpts=2*N+1[b];[a][b]interleave[v]";

const Source kSources[] = {
    {"HalfSideBySide", Stereo3DMode::sideBySide(Stereo3DMode::EyeSize::half), 1, kHalfSbs, "crop=iw/2:ih:0:0",
     "crop=iw/2:ih:iw/2:0"},
    {"FrameAlternate", Stereo3DMode::frameAlternate(false), 2, kAlternate, "select='not(mod(n\\,2))'",
     "select='mod(n\\,2)'"},
    {"HalfSideBySideHevcOpenGop",
     Stereo3DMode::sideBySide(Stereo3DMode::EyeSize::half),
     1,
     kHalfSbs,
     "crop=iw/2:ih:0:0",
     "crop=iw/2:ih:iw/2:0",
     {"-c:v", "libx265", "-x265-params", "open-gop=1:scenecut=0:bframes=3"}},
    {"FrameAlternateOpenGop",
     Stereo3DMode::frameAlternate(false),
     2,
     kAlternate,
     "select='not(mod(n\\,2))'",
     "select='mod(n\\,2)'",
     {"-x264-params", "open-gop=1"}},
};

// x264 with its B-frames and a key frame every second, and sound.
void makeSource(const fs::path &file, const Source &source) {
  const std::string rate = std::to_string(24 * source.picturesPerPair);
  std::vector<std::string> video{"-r", rate, "-crf", "12", "-g", rate, "-keyint_min", rate, "-sc_threshold", "0"};
  video.insert(video.end(), source.openGop.begin(), source.openGop.end());
  test::makeTwoEyeSource(file, std::to_string(kEyeWidth) + "x" + std::to_string(kEyeHeight), source.pack,
                         kPairs * source.picturesPerPair, 4.0, video);
}

// Raw 4:2:0 pictures of `input` through `filter`, at one eye's size.
std::vector<std::uint8_t> pictures(const fs::path &input, const std::string &filter, const fs::path &raw) {
  return test::rawPictures(input, filter, kEyeWidth, kEyeHeight, raw);
}

double seconds(const std::string &text) {
  return std::strtod(text.c_str(), nullptr);
}

class PictureChunks : public testing::TestWithParam<Source> {};

TEST_P(PictureChunks, EqualTheOnePieceMovie) {
  const auto validator = mvhevc::test::requireValidator();
  if (!validator)
    GTEST_SKIP() << "needs the MV-HEVC validator (scripts/build-validator)";
  const Source &source = GetParam();
  SourcesFixture f;
  f.tools.addReal("MVHEVCConverter", test::buildDir() / "share/kestrova/tools/MVHEVCConverter");
  const fs::path film = f.dir / "film.mkv";
  makeSource(film, source);
  const std::vector<std::uint8_t> reference[2] = {pictures(film, source.left, f.dir / "left.yuv"),
                                                  pictures(film, source.right, f.dir / "right.yuv")};
  SourceFileInfo info;
  info.url = film;
  info.videoWidth = kEyeWidth; // the packed picture is one eye's size, as each alternate picture is
  info.videoHeight = kEyeHeight;
  info.frameRateNum = 24 * source.picturesPerPair;
  info.frameRateDen = 1;
  info.duration = 4.0;
  info.stereoMode = source.layout;
  std::string log;
  f.engine->onLog = [&log](const std::string &line) { log += line + "\n"; };

  struct Movie {
    fs::path file;
    double psnr[2] = {0, 0};
  } movies[2];
  for (const bool chunked : {false, true}) {
    ConversionJob job = f.job(film, OutputTarget::visionPro);
    job.keepSideBySide = false;
    job.outputDirectory = f.dir / (chunked ? "chunked" : "one");
    if (chunked) {
      job.chunking.chunkSeconds = 1;
      job.chunking.jobs = 2;
    }
    Movie &movie = movies[chunked];
    f.progress.clear();
    movie.file = f.convert(job, info).outputPath;
    // The chunks' pictures move the bar on the way, not only their end.
    EXPECT_TRUE(std::any_of(f.progress.begin(), f.progress.end(),
                            [](const auto &step) { return step.second > 0.2 && step.second < 0.8; }));
    for (int eye = 0; eye < 2; ++eye) {
      const auto view = mvhevc::test::decodeView(*validator, movie.file, eye, f.dir / "view.yuv");
      ASSERT_EQ(view.size(), reference[eye].size()) << "eye " << eye << (chunked ? " in chunks" : " in one piece");
      movie.psnr[eye] = mvhevc::test::psnr(view, reference[eye]);
      // The figures, in the XML report (--gtest_output=xml).
      RecordProperty(std::string(chunked ? "chunked" : "one_piece") + "_eye" + std::to_string(eye) + "_psnr",
                     std::to_string(movie.psnr[eye]));
    }
  }
  EXPECT_NE(log.find("4 chunks of about 1 s, 4 to encode"), std::string::npos) << log;
  const auto facts = [](const fs::path &file) {
    return test::probe({"-v", "error", "-count_packets", "-show_entries", "stream=codec_type,nb_read_packets,duration",
                        "-of", "compact=p=0"},
                       file);
  };
  const std::string one = facts(movies[0].file), chunked = facts(movies[1].file);
  EXPECT_NE(chunked.find("codec_type=audio"), std::string::npos) << chunked;
  EXPECT_NE(chunked.find("nb_read_packets=" + std::to_string(kPairs)), std::string::npos) << chunked;
  EXPECT_NE(one.find("nb_read_packets=" + std::to_string(kPairs)), std::string::npos) << one;
  const auto videoSeconds = [](const std::string &facts) {
    const auto at = facts.find("duration=");
    return at == std::string::npos ? 0.0 : seconds(facts.substr(at + 9));
  };
  EXPECT_NEAR(videoSeconds(chunked), videoSeconds(one), 1.0 / 24);
  // The chunks of alternate pictures are encoded once, where the one-piece
  // road encodes a side-by-side file first: they may only be better.
  for (int eye = 0; eye < 2; ++eye) {
    EXPECT_GT(movies[0].psnr[eye], 30.0) << "eye " << eye;
    EXPECT_GT(movies[1].psnr[eye], movies[0].psnr[eye] - 0.5) << "eye " << eye;
    if (source.picturesPerPair == 1) {
      EXPECT_NEAR(movies[1].psnr[eye], movies[0].psnr[eye], 0.5) << "eye " << eye;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, PictureChunks, testing::ValuesIn(kSources),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace kestrova::pipeline
