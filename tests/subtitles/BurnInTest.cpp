#include "RealTools.h"
#include "StreamChecker.h"
#include "Validator.h"

#include "pipeline/SubtitlePreparation.h"
#include "support/RealMedia.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace kestrova::subtitles {
namespace {
namespace fs = std::filesystem;
using mvhevc::test::quote;
using mvhevc::test::run;
using Bytes = std::vector<std::uint8_t>;
using bluray::test::readBytes;

constexpr int kWidth = 1920, kHeight = 1080, kPairs = 24;
constexpr std::size_t kViewBytes = std::size_t{kWidth} * kHeight * 3 / 2;
constexpr int kCueFirst = 2, kCueEnd = 22; // "Depth test" from 0.1 to 0.9 s, at 24000/1001

std::string tool(const char *name) {
  return quote((test::buildDir() / "share/kestrova/tools" / name).string());
}

// The disc fixture's PG track and views, demuxed by tsMuxeR and decoded to frame pairs by
// edge264, made once under the build tree.
struct Fixture {
  fs::path dir, sup, view, pairs, shortTableView;
};

std::optional<Fixture> fixture(std::string &whyNot) {
  const auto media = test::referenceMedia();
  const auto tsmuxer = test::realTool("tsmuxer");
  if (!media || !tsmuxer) {
    whyNot = "needs the reference media and tsMuxeR";
    return std::nullopt;
  }
  Fixture f{test::buildDir() / "burnin-fixture", {}, {}, {}, {}};
  f.sup = f.dir / "es/clip24_ofmd.track_4608.sup";
  f.view = f.dir / "es/clip24_ofmd.track_4114.mvc";
  f.pairs = f.dir / "pairs.yuv";
  f.shortTableView = f.dir / "short-table.mvc";
  if (fs::exists(f.pairs) && fs::exists(f.shortTableView)) {
    return f;
  }
  const std::string m2ts = (f.dir / "clip24_ofmd.m2ts").string();
  test::writeFile(f.dir / "demux.meta", "MUXOPT --demux\nV_MPEG4/ISO/AVC, \"" + m2ts + "\", track=4113\n" +
                                            "V_MPEG4/ISO/MVC, \"" + m2ts + "\", track=4114\n" + "S_HDMV/PGS, \"" +
                                            m2ts + "\", track=4608\n");
  const auto made =
      run(quote((*media / "bluray/make-ofmd-clip.sh").string()) + " " + quote(tsmuxer->parent_path().string()) + " " +
          quote(f.dir.string()) + " && " + quote(tsmuxer->string()) + " " + quote((f.dir / "demux.meta").string()) +
          " " + quote((f.dir / "es").string()) + " && " + tool("edge264-pipe") + " --views " +
          quote((f.dir / "es/clip24_ofmd.track_4113.264").string()) + " " + quote(f.view.string()) + " > " +
          quote(f.pairs.string()));
  if (made.status != 0) {
    whyNot = "cannot make the fixture: " + made.err;
    return std::nullopt;
  }
  // The second table (14 pictures) declaring 9 frames.
  auto view = readBytes(f.view);
  const std::string text(view.begin(), view.end());
  const auto second = text.find("OFMD", text.find("OFMD") + 1);
  view.at(second + 11) = 9;
  std::ofstream(f.shortTableView, std::ios::binary).write(reinterpret_cast<const char *>(view.data()), view.size());
  return f;
}

// The leftmost column where the luma of `picture` (rows `stride` apart) differs from `plain` by
// more than `threshold`; -1 where they do not differ.
int leftEdge(const std::uint8_t *picture, std::size_t stride, const std::uint8_t *plain, int threshold) {
  int edge = -1;
  for (int y = 0; y < kHeight; ++y) {
    const std::uint8_t *row = picture + y * stride, *plainRow = plain + y * kWidth;
    const int end = edge < 0 ? kWidth : edge;
    if (threshold >= 0 && std::equal(row, row + end, plainRow)) {
      continue;
    }
    for (int x = 0; x < end; ++x) {
      if (std::abs(row[x] - plainRow[x]) > threshold) {
        edge = x;
        break;
      }
    }
  }
  return edge;
}

// The pictures after burn-in: side by side in `left` (kPairs pictures twice the width), or each
// eye's views (kPairs each) in `left` and `right`.
struct Eyes {
  Bytes left, right;
  std::string log;

  bool complete() const {
    return right.empty() ? left.size() == 2 * kViewBytes * kPairs
                         : left.size() == kViewBytes * kPairs && right.size() == kViewBytes * kPairs;
  }
  std::size_t stride() const { return right.empty() ? 2 * kWidth : kWidth; }
  const std::uint8_t *luma(int pair, int eye) const {
    if (right.empty()) {
      return left.data() + 2 * kViewBytes * pair + eye * kWidth;
    }
    return (eye == 0 ? left : right).data() + kViewBytes * pair;
  }
};

Eyes stacked(const Fixture &f, const std::string &options) {
  const auto done = run(tool("yuv_hstack") + " 1920 1080 --frame-rate 24000/1001 " + options + " < " +
                        quote(f.pairs.string()) + " > " + quote((f.dir / "sbs.yuv").string()));
  EXPECT_EQ(done.status, 0) << done.err;
  return {readBytes(f.dir / "sbs.yuv"), {}, done.err};
}

// Each layer of the MV-HEVC file `mov`, decoded.
Eyes layersOf(const fs::path &mov, const fs::path &validator, const fs::path &scratch) {
  Eyes eyes;
  for (const int view : {0, 1}) {
    const fs::path out = scratch / ("view" + std::to_string(view) + ".yuv");
    const auto decoded = run(quote(validator.string()) + " -v error -y -i " + quote(mov.string()) +
                             " -map 0:v:view:" + std::to_string(view) + " -f rawvideo " + quote(out.string()));
    EXPECT_EQ(decoded.status, 0) << decoded.err;
    (view == 0 ? eyes.left : eyes.right) = readBytes(out);
  }
  return eyes;
}

using Depths = std::vector<int>;
Depths sequenceZero() {
  Depths d{0, 0, 0, 1, 2, 3, 4, 5, 6, 7};
  d.insert(d.end(), 7, 10);
  d.insert(d.end(), 7, 20);
  return d;
}
Depths sequenceOne() {
  Depths d(10, -5);
  d.insert(d.end(), 14, 0);
  return d;
}

class BurnIn : public ::testing::Test {
protected:
  void SetUp() override {
    std::string whyNot;
    f_ = fixture(whyNot);
    if (!f_) {
      GTEST_SKIP() << whyNot;
    }
    plain_ = readBytes(f_->pairs);
  }
  const std::uint8_t *plainView(int pair, int view) const { return plain_.data() + (2 * pair + view) * kViewBytes; }

  // Where each eye's edge is found at the screen's depth, on the cue's first frame, which sequence 0
  // puts there: the eyes' backgrounds differ, and with them the first column of the soft edge
  // that stands out.
  struct Zero {
    int left, right;
  };
  Zero zeroOf(const Eyes &screen, int threshold) const {
    return {leftEdge(screen.luma(kCueFirst, 0), screen.stride(), plainView(kCueFirst, 0), threshold),
            leftEdge(screen.luma(kCueFirst, 1), screen.stride(), plainView(kCueFirst, 1), threshold)};
  }

  // Every cue frame has the subtitle at the left view's edge `zero + depth` and the right view's
  // `zero - depth`; every other frame is untouched (within `threshold`).
  void expectDepths(const Eyes &eyes, const Depths &depths, Zero zero, int threshold, const std::string &what) {
    ASSERT_TRUE(eyes.complete()) << what;
    for (int pair = 0; pair < kPairs; ++pair) {
      const bool cue = pair >= kCueFirst && pair < kCueEnd;
      const int left = leftEdge(eyes.luma(pair, 0), eyes.stride(), plainView(pair, 0), threshold);
      const int right = leftEdge(eyes.luma(pair, 1), eyes.stride(), plainView(pair, 1), threshold);
      EXPECT_EQ(left, cue ? zero.left + depths[pair] : -1) << what << ", left eye, frame " << pair;
      EXPECT_EQ(right, cue ? zero.right - depths[pair] : -1) << what << ", right eye, frame " << pair;
    }
  }

  std::optional<Fixture> f_;
  Bytes plain_;
};

TEST_F(BurnIn, TheStackerPlacesEachEyeAtTheDiscsDepthOnEveryFrameOfTheCue) {
  const std::string sup = "--subtitles " + quote(f_->sup.string());
  const std::string view = " --subtitle-offsets " + quote(f_->view.string());
  const Eyes planeZero = stacked(*f_, sup + view + " --subtitle-plane 0");
  ASSERT_TRUE(planeZero.complete());
  const Zero zero = zeroOf(planeZero, 40);
  ASSERT_GT(zero.left, 100);
  expectDepths(planeZero, sequenceZero(), zero, 40, "plane 0");

  struct Row {
    std::string what, options;
    Depths depths;
    bool logged; // a reason for the fixed depth is in the log
  };
  const std::vector<Row> rows{
      {"fixed depth, no offsets", sup + " --subtitle-depth 7", Depths(kPairs, 7), true},
      {"a plane that does not exist", sup + view + " --subtitle-plane 2", Depths(kPairs, 4), true},
      {"a table shorter than its GOP",
       sup + " --subtitle-offsets " + quote(f_->shortTableView.string()) + " --subtitle-plane 0 --subtitle-depth 3",
       Depths(kPairs, 3), true},
  };
  for (const auto &row : rows) {
    const Eyes eyes = stacked(*f_, row.options);
    expectDepths(eyes, row.depths, zero, 40, row.what);
    EXPECT_EQ(eyes.log.find("in front of the screen") != std::string::npos, row.logged) << row.what << eyes.log;
  }
}

TEST_F(BurnIn, ATrackFfmpegCannotDecodeIsLoggedAndThePicturesPassUnchanged) {
  test::writeFile(f_->dir / "broken.sup", std::string(4096, 'P'));
  const auto done = run(tool("yuv_hstack") + " 1920 1080 --frame-rate 24000/1001 --subtitles " +
                        quote((f_->dir / "broken.sup").string()) + " < " + quote(f_->pairs.string()) + " > " +
                        quote((f_->dir / "broken.yuv").string()) + " && " + tool("yuv_hstack") + " 1920 1080 < " +
                        quote(f_->pairs.string()) + " | cmp - " + quote((f_->dir / "broken.yuv").string()));
  EXPECT_EQ(done.status, 0) << done.out << done.err;
  EXPECT_NE(done.err.find("broken.sup"), std::string::npos) << done.err;
}

// The reader gives the tables the fixture was made with, as the independent ofmd.py reads them,
// and so do the units the conversion keeps of the view for the stacker.
TEST_F(BurnIn, TheViewsOffsetTablesAreReadAsMadeAndKeptWhole) {
  using nal::DepthOffset;
  const nal::OffsetMetadata metadata = nal::readOffsetMetadata(f_->view);
  EXPECT_TRUE(metadata.defects.empty());
  ASSERT_EQ(metadata.tables.size(), 2u);
  EXPECT_EQ(metadata.tables[0].pictures + 100 * metadata.tables[1].pictures, 10u + 1400u); // GOPs of 10 and 14
  EXPECT_EQ(metadata.tables[1].pts, 54037537u);
  EXPECT_EQ(nal::offsetFrameRate(metadata.tables[0].frameRateCode), (nal::FrameRate{24000, 1001}));
  const Depths zero = sequenceZero();
  EXPECT_EQ(metadata.frames(0), std::vector<DepthOffset>(zero.begin(), zero.end()));
  std::vector<DepthOffset> one(10, -5);
  one.resize(24);
  EXPECT_EQ(metadata.frames(1), one);
  EXPECT_EQ(metadata.frames(2), std::nullopt);
  auto independent = run("python3 " + quote(test::referenceMedia()->string() + "/bluray/ofmd.py") + " read " +
                         quote(f_->view.string()));
  for (std::size_t at; (at = independent.out.find(" nested=True")) != std::string::npos;) {
    independent.out.erase(at, 12);
  }
  EXPECT_EQ(run(quote(KESTROVA_NAL_OFFSETS) + " " + quote(f_->view.string())).out, independent.out);

  for (const fs::path &view : {f_->view, f_->shortTableView}) {
    const fs::path kept = f_->dir / "kept-offsets.mvc";
    pipeline::copyOffsetUnits(view, kept);
    const auto whole = nal::readOffsetMetadata(view), copy = nal::readOffsetMetadata(kept);
    ASSERT_EQ(copy.tables.size(), whole.tables.size()) << view;
    for (std::size_t i = 0; i < whole.tables.size(); ++i) {
      EXPECT_EQ(copy.tables[i].pictures, whole.tables[i].pictures) << view << ", table " << i;
      EXPECT_EQ(copy.tables[i].frames, whole.tables[i].frames) << view << ", table " << i;
      EXPECT_EQ(copy.tables[i].sequences, whole.tables[i].sequences) << view << ", table " << i;
    }
    EXPECT_LT(fs::file_size(kept) * 20, fs::file_size(view));
  }
}

// The whole program on the fixture's disc folder and lone clip: the track chosen on the command
// line burned into both eyes of either target, at the depth of the offset sequence the disc (or
// the track's place in the file) gives it, on exactly the cue's frames. In chunks cut at frame 10
// the cue and both sequences' depths cross the border; one run hands its chunks to the chunk
// command through GNU parallel, as other machines get them.
TEST_F(BurnIn, TheProgramBurnsTheChosenTrackIntoBothTargetsAtTheSourcesDepth) {
  std::string whyNot;
  const auto tools = bluray::test::findRealTools(whyNot);
  const auto validator = mvhevc::test::validatorFfmpeg();
  if (!tools || !validator) {
    GTEST_SKIP() << (tools ? "no MV-HEVC decoder" : whyNot);
  }
  fs::remove_all(f_->dir / "install");
  // With the segment script and the chunk tools: burning in passes the one over and takes the other.
  const fs::path program =
      bluray::test::installProgram(f_->dir / "install", *tools, bluray::test::Variant::dualSplitParallel);
  struct Row {
    std::string what, input, options, output;
    Depths depths;
    std::string settings = ""; // settings.json
  };
  const std::string chunks = "\"chunkSeconds\": 0.2, \"jobs\": 2";
  test::writeFile(f_->dir / "hosts", "# this machine only\n:\n");
  const std::vector<Row> rows{
      {"disc, by language, side by side", "disc", "--subtitles eng --target sbs", "disc_SBS.mkv", sequenceOne()},
      {"disc, by language, Vision Pro", "disc", "--subtitles ENG --target vision-pro", "disc.mov", sequenceOne()},
      {"lone clip, by number: plane 0", "clip24_ofmd.m2ts", "--subtitles 1 --target sbs", "clip24_ofmd_SBS.mkv",
       sequenceZero()},
      {"disc, side by side in chunks", "disc", "--subtitles eng --target sbs", "disc_SBS.mkv", sequenceOne(), chunks},
      {"disc, Vision Pro in chunks", "disc", "--subtitles eng --target vision-pro", "disc.mov", sequenceOne(), chunks},
      {"lone clip, Vision Pro in chunks through the chunk command", "clip24_ofmd.m2ts",
       "--subtitles 1 --target vision-pro --hosts " + quote((f_->dir / "hosts").string()), "clip24_ofmd.mov",
       sequenceZero(), chunks},
  };
  for (const auto &row : rows) {
    const fs::path out = f_->dir / "program-out";
    fs::remove_all(out);
    test::writeFile(f_->dir / "config/kestrova/settings.json", "{" + row.settings + "}");
    const auto done =
        run("env HOME=" + quote(f_->dir.string()) + " XDG_CONFIG_HOME=" + quote((f_->dir / "config").string()) + " " +
            quote(program.string()) + " --auto-convert --quality high " + row.options + " --output " +
            quote(out.string()) + " " + quote((f_->dir / row.input).string()) + " 2>&1");
    ASSERT_EQ(done.status, 0) << row.what << done.out;
    EXPECT_EQ(done.out.find("Chunked encode: 2 chunks") != std::string::npos, !row.settings.empty()) << done.out;
    const Eyes eyes = row.output.ends_with(".mkv")
                          ? Eyes{bluray::test::decodePictures(out / row.output, f_->dir), {}, {}}
                          : layersOf(out / row.output, *validator, f_->dir);
    ASSERT_TRUE(eyes.complete()) << row.what << done.out;
    // The encoders blur the soft edge and leave noise of up to 63 levels beside it; where the
    // screen's depth lies follows from the first frame.
    Zero zero = zeroOf(eyes, 90);
    zero.left -= row.depths[kCueFirst];
    zero.right += row.depths[kCueFirst];
    expectDepths(eyes, row.depths, zero, 90, row.what);
  }
}

} // namespace
} // namespace kestrova::subtitles
