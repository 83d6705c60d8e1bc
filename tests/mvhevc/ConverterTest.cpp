#include "BoxTree.h"
#include "StreamChecker.h"
#include "Validator.h"

#include "support/RealMedia.h"
#include "support/TestSupport.h"
#include "tools/Process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <sstream>

namespace kestrova::mvhevc::test {
namespace {

namespace fs = std::filesystem;

constexpr int kViewWidth = 128;
constexpr int kHeight = 64;
constexpr int kFrames = 12;
const std::string kSystemFfmpeg = "/usr/bin/ffmpeg";

fs::path converterPath() {
  return kestrova::test::buildDir() / "share/kestrova/tools/MVHEVCConverter";
}

// Apple's own spatial video, when this machine has it.
fs::path appleReference() {
  const char *given = std::getenv("KESTROVA_SPATIAL_REFERENCE");
  return given != nullptr ? fs::path(given)
                          : kestrova::test::referenceMedia().value_or(fs::path()) / "spatial-reference.mp4";
}

// Anything but the temporary file of a conversion, named like the output.
bool leftovers(const fs::path &dir, const std::string &outputName) {
  for (const auto &entry : fs::directory_iterator(dir)) {
    const auto name = entry.path().filename().string();
    if (name == outputName || name.rfind("." + outputName + ".partial", 0) == 0) {
      return true;
    }
  }
  return false;
}

// One small side-by-side clip converted once for the whole suite: one scene, the right eye the
// left shifted 8 samples, as a stereo camera sees a distant scene; sound from the AAC encoder,
// whose priming the source's edit list skips.
class ConvertedClip : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!fs::exists(kSystemFfmpeg)) {
      return;
    }
    dir_ = std::make_unique<kestrova::test::TempDir>();
    const auto input = *dir_ / "sbs.mov";
    static_assert(kViewWidth == 128 && kHeight == 64 && kFrames == 12, "the clip below");
    const auto made = run(quote(kSystemFfmpeg) +
                          " -v error -y -f lavfi -i testsrc2=size=128x64:rate=24 -f lavfi -i sine=frequency=440"
                          " -frames:v 12 -filter_complex '[0:v]split[a][b];[b]crop=120:64:0:0,pad=128:64:8:0[c];"
                          "[a][c]hstack[v]' -map '[v]' -map 1:a -t 0.5 -c:v ffv1 -pix_fmt yuv420p -c:a aac " +
                          quote(input.string()));
    ASSERT_EQ(made.status, 0) << made.err;
    conversion_ = run("KESTROVA_MVHEVC_PRESET=ultrafast " + converter() + " " + quote(input.string()) + " " +
                      quote((*dir_ / "out.mov").string()) + " 0.85 25");
  }
  static void TearDownTestSuite() { dir_.reset(); }

  void SetUp() override {
    if (!dir_) {
      GTEST_SKIP() << "no " << kSystemFfmpeg << " to make the test clip";
    }
    ASSERT_EQ(conversion_.status, 0) << conversion_.err;
  }

  static fs::path path(const std::string &name) { return *dir_ / name; }

  static inline std::unique_ptr<kestrova::test::TempDir> dir_;
  static inline RunResult conversion_;
};

TEST_F(ConvertedClip, ReportsProgressAndCompletes) {
  // Lines keep coming while the encoders hand over the pictures they still
  // held when the input ended (more than this short clip), not all at once
  // at the end; the exact last line comes once. How many pictures one line
  // covers depends on how the encoder threads were scheduled, so the test
  // asks for rising counts and several lines, not a line per picture.
  std::vector<int> counts;
  std::istringstream lines(conversion_.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Frame ", 0) == 0) {
      counts.push_back(std::stoi(line.substr(6)));
    }
  }
  counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
  EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end())) << conversion_.out;
  EXPECT_GE(counts.size(), 4U) << conversion_.out;
  ASSERT_FALSE(counts.empty());
  EXPECT_EQ(counts.back(), kFrames) << conversion_.out;
  const auto last = conversion_.out.find("Frame 12/12 (100%)\n");
  EXPECT_NE(last, std::string::npos) << conversion_.out;
  EXPECT_EQ(conversion_.out.find("Frame 12/12", last + 1), std::string::npos) << conversion_.out;
  EXPECT_TRUE(fs::exists(path("out.mov")));
  EXPECT_FALSE(leftovers(dir_->path(), "out.mov.partial"));
}

TEST_F(ConvertedClip, BothViewsDecodeAndMatchTheInputHalves) {
  const auto validator = requireValidator();
  if (!validator) {
    GTEST_SKIP() << "no MV-HEVC validator; run scripts/build-validator";
  }
  for (const int view : {0, 1}) {
    const auto name = "view" + std::to_string(view);
    const auto pictures = decodeView(*validator, path("out.mov"), view, path(name + ".yuv"));
    const auto half = run(quote(kSystemFfmpeg) + " -v error -y -i " + quote(path("sbs.mov").string()) +
                          " -fps_mode passthrough -vf crop=" + std::to_string(kViewWidth) + ":" +
                          std::to_string(kHeight) + ":" + std::to_string(view * kViewWidth) +
                          ":0 -pix_fmt yuv420p -f rawvideo " + quote(path(name + ".input.yuv").string()));
    ASSERT_EQ(half.status, 0) << half.err;
    EXPECT_EQ(pictures.size(), static_cast<std::size_t>(kViewWidth * kHeight * 3 / 2 * kFrames)) << name;
    EXPECT_GE(psnr(pictures, readBytes(path(name + ".input.yuv"))), 35.0) << name;
  }
}

TEST_F(ConvertedClip, ProbeReportsTwoViewsAndStereoMetadata) {
  const auto validator = requireValidator();
  if (!validator) {
    GTEST_SKIP() << "no MV-HEVC validator; run scripts/build-validator";
  }
  const auto probe = validator->parent_path() / "ffprobe";
  const auto report =
      run(quote(probe.string()) + " -v error -select_streams v:0 -show_streams " + quote(path("out.mov").string()));
  ASSERT_EQ(report.status, 0) << report.err;
  for (const std::string expected :
       {"view_ids_available=0,1", "side_data_type=Stereo 3D", "primary_eye=left", "baseline=64000",
        "horizontal_field_of_view=60000/1000", "view=packed", "width=128", "height=64"}) {
    EXPECT_NE(report.out.find(expected), std::string::npos) << expected << "\n" << report.out;
  }
  const auto frames = run(quote(validator->string()) + " -v error -i " + quote(path("out.mov").string()) +
                          " -map 0:v:view:0 -f framemd5 -");
  ASSERT_EQ(frames.status, 0) << frames.err;
  // Presentation times come back as 0, 1, 2, ...: the sample tables describe the B-frames right.
  std::size_t expectedPts = 0;
  std::istringstream lines(frames.out);
  for (std::string line; std::getline(lines, line);) {
    std::size_t dts = 0, pts = 0; // framemd5: stream, dts, pts, ...
    if (line.rfind('#', 0) != 0 && std::sscanf(line.c_str(), "%*d, %zu, %zu", &dts, &pts) == 2) {
      EXPECT_EQ(pts, expectedPts++);
    }
  }
  EXPECT_EQ(expectedPts, static_cast<std::size_t>(kFrames));
}

TEST_F(ConvertedClip, BoxTreeFollowsTheAppleReference) {
  const auto reference = appleReference();
  if (!fs::exists(reference)) {
    GTEST_SKIP() << "no reference spatial video at " << reference;
  }
  const auto ours = readBoxTree(path("out.mov"));
  const auto theirs = readBoxTree(reference);
  // Every box of the reference's video track is ours too, in the same order.
  const auto trackPaths = [](const std::vector<Box> &boxes) {
    std::vector<std::string> paths;
    for (const auto &box : boxes) {
      if (box.path.rfind("moov/trak", 0) == 0) {
        paths.push_back(box.path);
      }
    }
    return paths;
  };
  const auto ourVideoPaths = trackPaths(ours), theirVideoPaths = trackPaths(theirs);
  auto at = ourVideoPaths.begin();
  for (const auto &path : theirVideoPaths) {
    const auto found = std::find(at, ourVideoPaths.end(), path);
    EXPECT_NE(found, ourVideoPaths.end()) << "missing or out of order: " << path;
    if (found != ourVideoPaths.end()) {
      at = found;
    }
  }
  const std::string entry = "moov/trak/mdia/minf/stbl/stsd/hvc1/";
  std::vector<std::string> children;
  for (const auto &box : ours) {
    if (box.path.rfind(entry, 0) == 0 && box.path.find('/', entry.size()) == std::string::npos) {
      children.push_back(box.path.substr(entry.size()));
    }
  }
  EXPECT_EQ(children, (std::vector<std::string>{"hvcC", "lhvC", "fiel", "chrm", "vexu", "hfov"}));
  struct Value {
    std::string path;
    std::size_t offset, size;
    std::uint64_t expected;
  };
  for (const auto &v :
       {Value{entry + "vexu/eyes/stri", 4, 1, 3}, Value{entry + "lhvC", 5, 1, 2}, Value{entry + "fiel", 0, 2, 0x0100},
        Value{entry + "chrm", 0, 2, 0},
        // One sync group, IDR_N_LP (closed GOPs have no leading pictures), for the first sample only:
        // the clip is shorter than one GOP.
        Value{"moov/trak/mdia/minf/stbl/sgpd", 16, 1, 20}, Value{"moov/trak/mdia/minf/stbl/sbgp", 8, 4, 2},
        Value{"moov/trak/mdia/minf/stbl/sbgp", 12, 8, 0x0000000100000001}}) {
    const auto *box = findBox(ours, v.path);
    ASSERT_NE(box, nullptr) << v.path;
    EXPECT_EQ(readBig(box->payload, v.offset, v.size), v.expected) << v.path;
  }
  EXPECT_NE(findBox(ours, "moov/trak/mdia/minf/stbl/stsd/mp4a/esds"), nullptr) << "audio track not copied";
}

bool allComplete(const std::vector<std::uint8_t> &arrays) {
  return std::all_of(arrays.begin(), arrays.end(), [](std::uint8_t first) { return (first & 0x80) != 0; });
}

const TrackTiming &soundTrack(const std::vector<TrackTiming> &tracks) {
  const auto sound = std::find_if(tracks.begin(), tracks.end(), [](const auto &t) { return !t.video; });
  if (sound == tracks.end()) {
    throw std::runtime_error("no sound track");
  }
  return *sound;
}

// What Apple's own spatial video files hold and ours must too: each row is checked on our
// conversion and on the reference, so a row that the reference breaks is a wrong row.
TEST_F(ConvertedClip, StreamMeetsWhatAppleFilesHold) {
  const auto reference = appleReference();
  struct Row {
    const char *what;
    bool (*holds)(const StreamFacts &);
  };
  const Row rows[] = {
      {"parameter sets only in the sample entry, its arrays complete",
       [](const StreamFacts &f) {
         return f.samplesWithParameterSets == 0 && allComplete(f.hvcCArrays) && allComplete(f.lhvCArrays);
       }},
      {"no extra slice header bits in either layer",
       [](const StreamFacts &f) { return f.extraSliceHeaderBits[0] == 0 && f.extraSliceHeaderBits[1] == 0; }},
      {"Main tier in the record, the base SPS and every VPS extension entry",
       [](const StreamFacts &f) {
         return !f.record.highTier && !f.baseSps.highTier &&
                std::none_of(f.vpsExtension.begin(), f.vpsExtension.end(), [](const Ptl &p) { return p.highTier; });
       }},
      {"Multiview Main profile at no lower a level than the base layer",
       [](const StreamFacts &f) {
         return !f.vpsExtension.empty() && f.vpsExtension.back().profile == 6 &&
                f.vpsExtension.back().level >= f.baseSps.level && f.record.level == f.baseSps.level;
       }},
      {"both layers in every sample",
       [](const StreamFacts &f) { return f.samples > 0 && f.samplesWithoutBothLayers == 0; }},
      {"the movie as long as its longest track",
       [](const StreamFacts &f) {
         double longest = 0;
         for (const auto &t : f.tracks) {
           longest = std::max(longest, t.trackSeconds);
         }
         return std::abs(f.movieSeconds - longest) < 0.002;
       }},
      {"every layer-1 slice predicts from layer 0",
       [](const StreamFacts &f) {
         return f.layerOneSlices > 0 && f.layerOneSlicesFromBase == f.layerOneSlices &&
                f.layerOneIrapInterSlices == f.layerOneIrapSlices;
       }},
      {"layer-1 SPS in the multi-layer extension form",
       [](const StreamFacts &f) { return f.layerOneSpsExtensionForm; }},
  };
  std::vector<std::pair<std::string, StreamFacts>> files = {{"ours", checkStream(path("out.mov"))}};
  if (fs::exists(reference)) {
    files.emplace_back("Apple's", checkStream(reference));
    // The parameter set arrays hold the same kinds of NAL unit, with the same completeness marks.
    EXPECT_EQ(files.front().second.hvcCArrays, files.back().second.hvcCArrays);
    EXPECT_EQ(files.front().second.lhvCArrays, files.back().second.lhvCArrays);
  }
  for (const auto &[name, facts] : files) {
    for (const auto &row : rows) {
      EXPECT_TRUE(row.holds(facts)) << name << ": " << row.what << " (levels: record " << facts.record.level
                                    << ", base SPS " << facts.baseSps.level << ", VPS extension "
                                    << (facts.vpsExtension.empty() ? 0 : facts.vpsExtension.back().level) << ")";
    }
  }

  // Sound starts and lasts as in the source, within one AAC frame.
  const auto source = trackTimings(readBoxTree(path("sbs.mov")));
  const auto &sound = soundTrack(files.front().second.tracks);
  EXPECT_EQ(sound.editMediaTime, soundTrack(source).editMediaTime);
  EXPECT_NEAR(sound.trackSeconds, soundTrack(source).trackSeconds, 1024.0 / 44100);
}

class BadInput : public ::testing::Test {
protected:
  void SetUp() override {
    if (!fs::exists(kSystemFfmpeg)) {
      GTEST_SKIP() << "no " << kSystemFfmpeg;
    }
  }
  kestrova::test::TempDir dir_;
};

TEST_F(BadInput, FailsClearlyAndLeavesNoOutput) {
  kestrova::test::writeFile(dir_ / "notes.mov", "not a movie at all\n");
  for (const auto &[name, size] : {std::pair{"odd.mkv", "129x64"}, std::pair{"narrow.mkv", "130x64"}}) {
    const auto made = run(quote(kSystemFfmpeg) + " -v error -y -f lavfi -i testsrc2=size=" + size +
                          ":rate=24 -frames:v 2 -vf scale=" + std::string(size).replace(3, 1, ":") +
                          " -c:v ffv1 -pix_fmt yuv444p " + quote((dir_ / name).string()));
    ASSERT_EQ(made.status, 0) << made.err;
  }
  const auto sound = run(quote(kSystemFfmpeg) + " -v error -y -f lavfi -i sine=frequency=440 -t 0.2 -c:a aac " +
                         quote((dir_ / "sound.m4a").string()));
  ASSERT_EQ(sound.status, 0) << sound.err;
  struct Case {
    std::string input, message;
  };
  for (const auto &c : {Case{"missing.mov", "cannot open input"}, Case{"notes.mov", "cannot open input"},
                        Case{"sound.m4a", "no decodable video stream"}, Case{"odd.mkv", "does not split into two"},
                        Case{"narrow.mkv", "does not split into two"}}) {
    const auto result =
        run(converter() + " " + quote((dir_ / c.input).string()) + " " + quote((dir_ / "out.mov").string()) + " 0.7");
    EXPECT_EQ(result.status, 1) << c.input;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << c.input << ": " << result.err;
    EXPECT_FALSE(leftovers(dir_.path(), "out.mov")) << c.input;
  }
}

TEST_F(BadInput, SoundOtherThanAacIsLeftOutWithANote) {
  const auto clip = dir_ / "flac.mkv";
  const auto made = run(quote(kSystemFfmpeg) +
                        " -v error -y -f lavfi -i testsrc2=size=128x64:rate=24 -f lavfi -i sine=frequency=440"
                        " -frames:v 4 -t 0.2 -c:v ffv1 -pix_fmt yuv420p -c:a flac " +
                        quote(clip.string()));
  ASSERT_EQ(made.status, 0) << made.err;
  const auto result = run("KESTROVA_MVHEVC_PRESET=ultrafast " + converter() + " " + quote(clip.string()) + " " +
                          quote((dir_ / "out.mov").string()) + " 0.5");
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.err.find("flac"), std::string::npos) << result.err;
  const auto boxes = readBoxTree(dir_ / "out.mov");
  EXPECT_EQ(std::count_if(boxes.begin(), boxes.end(), [](const Box &box) { return box.path == "moov/trak"; }), 1);
}

// A clip long enough that a conversion is still running when the first progress line arrives.
fs::path makeLongClip(const kestrova::test::TempDir &dir) {
  const auto clip = dir / "long.mkv";
  const auto made = run(quote(kSystemFfmpeg) +
                        " -v error -y -f lavfi -i testsrc2=size=640x180:rate=24 -frames:v 240 -c:v libx264 "
                        "-preset ultrafast -pix_fmt yuv420p " +
                        quote(clip.string()));
  if (made.status != 0) {
    ADD_FAILURE() << made.err;
  }
  return clip;
}

TEST_F(BadInput, TerminationMidEncodeLeavesNoOutput) {
  const auto clip = makeLongClip(dir_);
  tools::ProcessLaunch launch;
  launch.executable = converterPath().string();
  launch.arguments = {clip.string(), (dir_ / "out.mov").string(), "0.85"};
  auto process = tools::Process::create(launch);
  std::atomic<bool> signalled = false;
  std::string err;
  const auto status = tools::runAndStream(
      *process,
      [&](std::string_view chunk) {
        if (!signalled && chunk.find("Frame ") != std::string_view::npos) {
          signalled = true;
          process->terminate();
        }
      },
      [&](std::string_view chunk) { err += chunk; });
  ASSERT_TRUE(signalled.load());
  EXPECT_FALSE(status.success());
  EXPECT_NE(err.find("cancelled"), std::string::npos) << err;
  EXPECT_FALSE(leftovers(dir_.path(), "out.mov"));
}

TEST_F(BadInput, FullDiskRemovesTheOutput) {
  const auto clip = makeLongClip(dir_);
  // A file size limit stands in for a full disk: writes past it fail with EFBIG.
  const auto result = run("trap '' XFSZ; ulimit -f 64; KESTROVA_MVHEVC_PRESET=ultrafast exec " + converter() + " " +
                          quote(clip.string()) + " " + quote((dir_ / "out.mov").string()) + " 0.88");
  EXPECT_EQ(result.status, 1) << result.out;
  EXPECT_NE(result.err.find("cannot write"), std::string::npos) << result.err;
  EXPECT_FALSE(leftovers(dir_.path(), "out.mov"));
}

} // namespace
} // namespace kestrova::mvhevc::test
