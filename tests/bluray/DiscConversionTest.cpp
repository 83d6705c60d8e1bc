// A Blu-ray 3D disc as people keep it (a disc folder written by the real
// tsMuxeR, its UDF image), converted by the built program from every form of
// input a user may point it at: the whole film from its 3D playlist, each eye
// in place, every sound and subtitle track with its language, the chapters;
// and the discs it must refuse, refused before any work.
#include "RealTools.h"
#include "Validator.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sys/file.h>

#include "core/UniqueFd.h"

namespace kestrova::bluray::test {
namespace {

namespace fs = std::filesystem;
using mvhevc::test::quote;
using mvhevc::test::run;

constexpr int kPairs = 24;

/// The disc make-disc.sh makes from clip24.m2ts (folder `disc`, image `disc.iso`),
/// made once into the build tree and kept there.
fs::path testDisc(const RealTools &tools, const fs::path &clips) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  const fs::path cache = kestrova::test::buildDir() / "bluray-disc";
  fs::create_directories(cache);
  const UniqueFd lockFd(::open((cache / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  ::flock(lockFd.get(), LOCK_EX);
  if (!fs::exists(cache / "disc.iso")) {
    const auto made = run(quote((clips / "make-disc.sh").string()) + " " + quote(tools.tsmuxer.parent_path().string()) +
                          " " + quote((clips / "clip24.m2ts").string()) + " " + quote(cache.string()) + " 2>&1");
    EXPECT_EQ(made.status, 0) << made.out;
    fs::remove_all(cache / "work");
  }
  return cache;
}

/// A copy of the disc folder the test may change.
fs::path copyOfDisc(const fs::path &disc, const fs::path &target) {
  fs::copy(disc / "disc", target, fs::copy_options::recursive);
  return target;
}

struct Track {
  std::string type, codec, language;
  bool isDefault = false;
  friend bool operator==(const Track &, const Track &) = default;
};
std::ostream &operator<<(std::ostream &out, const Track &t) {
  return out << t.type << "/" << t.codec << "/" << t.language << (t.isDefault ? "/default" : "");
}

struct Tracks {
  std::vector<Track> tracks; ///< audio and subtitle streams in order
  std::vector<std::pair<double, std::string>> chapters;
};

Tracks probeTracks(const fs::path &file) {
  const auto probed = run("ffprobe -v error -show_streams -show_chapters -of json " + quote(file.string()));
  const auto report = nlohmann::json::parse(probed.out, nullptr, false);
  Tracks result;
  if (!report.is_object())
    return result;
  for (const auto &stream : report.value("streams", nlohmann::json::array())) {
    const std::string type = stream.value("codec_type", "");
    if (type != "audio" && type != "subtitle")
      continue;
    result.tracks.push_back({type, stream.value("codec_name", ""),
                             stream.value("tags", nlohmann::json::object()).value("language", "und"),
                             stream.value("disposition", nlohmann::json::object()).value("default", 0) == 1});
  }
  for (const auto &chapter : report.value("chapters", nlohmann::json::array()))
    result.chapters.emplace_back(std::atof(chapter.value("start_time", "0").c_str()),
                                 chapter.value("tags", nlohmann::json::object()).value("title", ""));
  return result;
}

/// The tone of an audio stream of `file` in Hz, from its zero crossings: the
/// disc's English track is 1000 Hz, its French one 440 Hz.
double toneOf(const fs::path &file, const std::string &stream, const fs::path &scratch) {
  const fs::path raw = scratch / "tone.raw";
  const auto decoded = run("ffmpeg -v error -y -i " + quote(file.string()) + " -map 0:" + stream +
                           " -ac 1 -ar 48000 -f s16le " + quote(raw.string()));
  if (decoded.status != 0)
    return 0;
  const auto bytes = readBytes(raw);
  int crossings = 0;
  std::int16_t previous = 0;
  const std::size_t samples = bytes.size() / 2;
  for (std::size_t i = 0; i < samples; ++i) {
    const auto sample = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    if ((sample >= 0) != (previous >= 0))
      ++crossings;
    previous = sample;
  }
  return samples ? crossings / 2.0 / (static_cast<double>(samples) / 48000.0) : 0;
}

class DiscTest : public testing::Test {
protected:
  void SetUp() override {
    std::string whyNot;
    if (!findRealSetup(tools_, clips_, whyNot, {.discImages = true}))
      GTEST_SKIP() << whyNot;
    disc_ = testDisc(*tools_, *clips_);
  }

  /// Runs the installed program on `input` to `output`, for the Vision Pro target (keeping the
  /// side-by-side file, whose tracks the rows check too) or Full SBS.
  mvhevc::test::RunResult convert(const fs::path &program, const fs::path &input, const fs::path &output,
                                  bool visionPro) {
    const fs::path config = dir_ / (visionPro ? "config-vp" : "config-sbs");
    kestrova::test::writeFile(
        config / "kestrova/settings.json",
        std::string("{\"qualityPreset\": \"Balanced\", \"outputTarget\": \"") +
            (visionPro ? "Apple Vision Pro (MV-HEVC)\", \"keepSBSIntermediate\": true}" : "SBS 3D (MKV)\"}"));
    fs::create_directories(dir_ / "scratch");
    return run("cd " + quote(dir_.path().string()) + " && env HOME=" + quote((dir_ / "home").string()) +
               " XDG_CONFIG_HOME=" + quote(config.string()) + " XDG_RUNTIME_DIR=" + quote((dir_ / "scratch").string()) +
               " TMPDIR=" + quote((dir_ / "scratch").string()) + " LC_ALL=C " + quote(program.string()) + " --input " +
               quote(input.string()) + " --auto-convert --output " + quote(output.string()) + " 2>&1");
  }

  static std::vector<std::string> entriesOf(const fs::path &folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
      names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  kestrova::test::TempDir dir_;
  std::optional<RealTools> tools_;
  std::optional<fs::path> clips_;
  std::optional<fs::path> disc_;
};

// --- every form of input ------------------------------------------------------------------------------------------

struct Form {
  const char *name;
  const char *path; ///< inside the cached disc's folder
  Variant variant;
  bool visionPro;
  bool clip; ///< a clip of the film, which converts the whole playlist
};

class DiscForms : public DiscTest, public testing::WithParamInterface<Form> {};

TEST_P(DiscForms, TheWholeFilmWithEachEyeAndEveryTrack) {
  const Form &form = GetParam();
  const fs::path program = installProgram(dir_ / "install", *tools_, form.variant);
  const fs::path input = *disc_ / form.path, output = dir_ / "out";
  const auto result = convert(program, input, output, form.visionPro);
  ASSERT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.out.find("converting the whole playlist") != std::string::npos, form.clip) << result.out;
  // Named after the disc: its volume label in an image, its folder's name otherwise.
  const std::string base = fs::path(form.path).extension() == ".iso" ? "KESTROVA_3D_TEST" : "disc";
  const fs::path sbs = output / (base + (form.visionPro ? "_SBS.mov" : "_SBS.mkv"));
  const fs::path final = form.visionPro ? output / (base + ".mov") : sbs;
  const std::vector<std::string> expectedFiles = form.visionPro
                                                     ? std::vector<std::string>{base + ".mov", base + "_SBS.mov"}
                                                     : std::vector<std::string>{base + "_SBS.mkv"};
  EXPECT_EQ(entriesOf(output), expectedFiles);
  EXPECT_EQ(probeMedia(final).videoFrames, kPairs) << result.out;
  expectEyesInPlace(referenceViews(*tools_, *clips_), decodePictures(sbs, dir_.path()), false, sbs.string());

  const Tracks tracks = probeTracks(sbs);
  if (form.visionPro) {
    // AAC for the converter; no subtitles in QuickTime; the English track first.
    ASSERT_GE(tracks.tracks.size(), 2u);
    EXPECT_EQ(tracks.tracks[0], (Track{"audio", "aac", "eng", true}));
    EXPECT_EQ(tracks.tracks[1], (Track{"audio", "aac", "fra", false}));
    for (const auto &track : probeTracks(final).tracks)
      EXPECT_NE(track.type, "subtitle") << track;
    // The spatial video plays the same first track as the side-by-side file.
    EXPECT_NEAR(toneOf(final, "a:0", dir_.path()), 1000, 50);
  } else {
    const std::vector<Track> expected{{"audio", "ac3", "eng", true},
                                      {"audio", "dts", "fra", false},
                                      {"subtitle", "hdmv_pgs_subtitle", "eng", false},
                                      {"subtitle", "hdmv_pgs_subtitle", "fra", false}};
    EXPECT_EQ(tracks.tracks, expected);
    EXPECT_NEAR(toneOf(sbs, "a:0", dir_.path()), 1000, 50);
    EXPECT_NEAR(toneOf(sbs, "a:1", dir_.path()), 440, 50);
    ASSERT_EQ(tracks.chapters.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_NEAR(tracks.chapters[i].first, 0.25 * static_cast<double>(i), 0.01);
      EXPECT_EQ(tracks.chapters[i].second, "Chapter " + std::to_string(i + 1));
    }
  }
  EXPECT_EQ(processesMentioning(dir_.path()), std::vector<int>{});
}

std::string formName(const testing::TestParamInfo<Form> &info) {
  return std::string(info.param.name) + (info.param.visionPro ? "_VisionPro" : "_SBS");
}

INSTANTIATE_TEST_SUITE_P(DiscInput, DiscForms,
                         testing::Values(Form{"Folder", "disc", Variant::fifo, false, false},
                                         Form{"BdmvFolder", "disc/BDMV", Variant::parallel, false, false},
                                         Form{"Playlist", "disc/BDMV/PLAYLIST/00800.mpls", Variant::fifo, false, false},
                                         Form{"Ssif", "disc/BDMV/STREAM/SSIF/00003.ssif", Variant::fifo, false, true},
                                         Form{"Clip", "disc/BDMV/STREAM/00001.m2ts", Variant::diskBased, false, true},
                                         Form{"Image", "disc.iso", Variant::dualSplitParallel, false, false},
                                         Form{"Folder", "disc", Variant::fifo, true, false},
                                         Form{"Image", "disc.iso", Variant::parallel, true, false},
                                         Form{"Clip", "disc/BDMV/STREAM/00003.m2ts", Variant::fifo, true, true}),
                         formName);

// A film far longer than its subtitles (two cues in its first second): each
// road to Matroska writes every picture, the subtitle tracks, and the sound
// up to the last picture. The subtitles' early end once cut such a file to a
// few seconds of pictures with a "complete".
class LongDisc : public DiscTest, public testing::WithParamInterface<Variant> {};

TEST_P(LongDisc, EveryPictureWithTheSubtitlesAndTheSound) {
  constexpr int kRepeats = 12;
  const fs::path disc = repeatedDisc(*tools_, *clips_, kRepeats);
  const fs::path program = installProgram(dir_ / "install", *tools_, GetParam(), /*fastDecoder=*/true);
  const auto result = convert(program, disc, dir_ / "out", false);
  ASSERT_EQ(result.status, 0) << result.out;
  const fs::path sbs = dir_ / "out/disc_SBS.mkv";
  const MediaFacts facts = probeMedia(sbs);
  EXPECT_EQ(facts.videoFrames, kRepeats * kPairs) << result.out;
  // The file ends with its pictures: the sound's last AC-3 frame (32 ms) at most runs past them.
  EXPECT_NEAR(facts.videoSeconds, kRepeats * kPairs * 1001.0 / 24000.0, 0.05);
  int subtitles = 0;
  for (const auto &track : probeTracks(sbs).tracks)
    subtitles += track.type == "subtitle";
  EXPECT_EQ(subtitles, 2);
}

INSTANTIATE_TEST_SUITE_P(DiscInput, LongDisc, testing::Values(Variant::fifo, Variant::diskBased),
                         [](const auto &info) { return std::string(variantName(info.param)); });

// --- the eyes from the disc -------------------------------------------------------------------------------------

TEST_F(DiscTest, ARightFirstDiscComesOutWithTheEyesRight) {
  const fs::path disc = copyOfDisc(*disc_, dir_ / "right-first");
  for (const char *copy : {"BDMV/PLAYLIST/00800.mpls", "BDMV/BACKUP/PLAYLIST/00800.mpls"}) {
    // The base-view-is-right flag of the playlist's AppInfo, as tsmuxer --right-eye sets it.
    std::string bytes = kestrova::test::readFile(disc / copy);
    bytes[0x38] = static_cast<char>(bytes[0x38] | 0x10);
    kestrova::test::writeFile(disc / copy, bytes);
  }
  const auto result = convert(installProgram(dir_ / "install", *tools_, Variant::fifo), disc, dir_ / "out", false);
  ASSERT_EQ(result.status, 0) << result.out;
  expectEyesInPlace(referenceViews(*tools_, *clips_), decodePictures(dir_ / "out/right-first_SBS.mkv", dir_.path()),
                    true, "right-first disc");
}

// A copy of the disc that kept the SSIF files but not every clip: tsMuxeR reads those clips' views from them.
TEST_F(DiscTest, ClipsTheCopyLacksAreReadFromTheirSsifFiles) {
  const fs::path disc = copyOfDisc(*disc_, dir_ / "ssif-copy");
  for (const char *clip : {"00002", "00003", "00004"})
    fs::remove(disc / "BDMV/STREAM" / (std::string(clip) + ".m2ts"));
  const auto result = convert(installProgram(dir_ / "install", *tools_, Variant::fifo), disc, dir_ / "out", false);
  ASSERT_EQ(result.status, 0) << result.out;
  EXPECT_NE(result.out.find("the copy lacks 00002 00003 00004, read from 00001.ssif 00003.ssif"), std::string::npos)
      << result.out;
  const fs::path sbs = dir_ / "out/ssif-copy_SBS.mkv";
  EXPECT_EQ(probeMedia(sbs).videoFrames, kPairs);
  expectEyesInPlace(referenceViews(*tools_, *clips_), decodePictures(sbs, dir_.path()), false, "SSIF copy");
  EXPECT_EQ(probeTracks(sbs).tracks.size(), 4u);
  EXPECT_NEAR(toneOf(sbs, "a:1", dir_.path()), 440, 50);
}

// --- what must be refused -----------------------------------------------------------------------------------------

TEST_F(DiscTest, DiscsThatCannotBeConvertedAreRefusedBeforeAnyWork) {
  struct Row {
    const char *what;
    std::function<fs::path(const fs::path &)> make; ///< the input, made in the given folder
    const char *message;
  };
  const fs::path cached = *disc_;
  const Row rows[] = {
      {"a playlist's clip is missing, and so is the SSIF file that would hold it",
       [&](const fs::path &at) {
         const fs::path disc = copyOfDisc(cached, at / "disc");
         fs::remove(disc / "BDMV/STREAM/00004.m2ts");
         fs::remove(disc / "BDMV/STREAM/SSIF/00003.ssif");
         return disc;
       },
       "BDMV/STREAM/00004.m2ts, which is missing"},
      {"encrypted",
       [&](const fs::path &at) {
         const fs::path disc = copyOfDisc(cached, at / "disc");
         kestrova::test::writeFile(disc / "AACS/Unit_Key_RO.inf", std::string(1024, '\x11'));
         // AACS leaves the first 16 bytes of each 6144-byte unit in the clear.
         std::string clip = kestrova::test::readFile(disc / "BDMV/STREAM/00001.m2ts");
         for (std::size_t at = 0; at < clip.size(); ++at)
           if (at % 6144 >= 16)
             clip[at] = static_cast<char>(clip[at] ^ static_cast<char>(0xA5 + at * 7));
         kestrova::test::writeFile(disc / "BDMV/STREAM/00001.m2ts", clip);
         return disc;
       },
       "this disc is encrypted; Kestrova reads decrypted discs only"},
      {"an ISO 9660 image without UDF",
       [&](const fs::path &at) {
         run("genisoimage -quiet -iso-level 3 -o " + quote((at / "plain.iso").string()) + " " +
             quote((cached / "disc").string()));
         return at / "plain.iso";
       },
       "damaged or not a UDF image"},
      {"a damaged image",
       [&](const fs::path &at) {
         kestrova::test::writeFile(at / "cut.iso", kestrova::test::readFile(cached / "disc.iso").substr(0, 40000));
         return at / "cut.iso";
       },
       "damaged or not a UDF image"},
      {"the 2D playlist", [&](const fs::path &) { return cached / "disc/BDMV/PLAYLIST/00801.mpls"; },
       "00801.mpls is not a 3D playlist"},
      {"a disc without a 3D playlist",
       [&](const fs::path &at) {
         const fs::path disc = copyOfDisc(cached, at / "disc");
         fs::remove(disc / "BDMV/PLAYLIST/00800.mpls");
         return disc;
       },
       "no 3D playlist on this disc; its longest playlist, 00801.mpls"},
  };
  const fs::path program = installProgram(dir_ / "install", *tools_, Variant::fifo);
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    const fs::path at = dir_ / "inputs" / row.what;
    fs::create_directories(at);
    const fs::path output = dir_ / "out" / row.what;
    const auto result = convert(program, row.make(at), output, false);
    EXPECT_NE(result.status, 0) << result.out;
    EXPECT_NE(result.out.find(row.message), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("[Reading the source]"), std::string::npos) << "work started: " << result.out;
    EXPECT_EQ(entriesOf(output), std::vector<std::string>{}) << "left behind";
  }
}

// --- a one-file transport stream keeps its tracks too -----------------------------------------------------------

TEST_F(DiscTest, AOneFileTransportStreamKeepsEveryTrackWithItsLanguage) {
  // The film in one .m2ts, the way tsMuxeR writes one from the playlist.
  const fs::path playlist = *disc_ / "disc/BDMV/PLAYLIST/00800.mpls", film = dir_ / "film.m2ts";
  std::string meta = "MUXOPT --no-pcr-on-video-pid --new-audio-pes --vbr --vbv-len=500\n";
  for (const char *track : {"V_MPEG4/ISO/AVC, \"{}\", track=4113", "V_MPEG4/ISO/MVC, \"{}\", track=4114",
                            "A_AC3, \"{}\", track=4352, lang=eng", "A_DTS, \"{}\", track=4353, lang=fra",
                            "S_HDMV/PGS, \"{}\", track=4608, lang=eng", "S_HDMV/PGS, \"{}\", track=4609, lang=fra"}) {
    std::string line = track;
    line.replace(line.find("{}"), 2, playlist.string());
    meta += line + "\n";
  }
  kestrova::test::writeFile(dir_ / "film.meta", meta);
  const auto muxed = run(quote(tools_->tsmuxer.string()) + " " + quote((dir_ / "film.meta").string()) + " " +
                         quote(film.string()) + " 2>&1");
  ASSERT_EQ(muxed.status, 0) << muxed.out;
  const auto result = convert(installProgram(dir_ / "install", *tools_, Variant::fifo), film, dir_ / "out", false);
  ASSERT_EQ(result.status, 0) << result.out;
  const fs::path sbs = dir_ / "out/film_SBS.mkv";
  EXPECT_EQ(probeMedia(sbs).videoFrames, kPairs);
  const std::vector<Track> expected{{"audio", "ac3", "eng", true},
                                    {"audio", "dts", "fra", false},
                                    {"subtitle", "hdmv_pgs_subtitle", "eng", false},
                                    {"subtitle", "hdmv_pgs_subtitle", "fra", false}};
  EXPECT_EQ(probeTracks(sbs).tracks, expected);
  EXPECT_NEAR(toneOf(sbs, "a:0", dir_.path()), 1000, 50);
}

// --- the MV-HEVC file's tracks (needs the converter that takes several) ------------------------------------------

TEST_F(DiscTest, TheSpatialVideoHasEveryAudioTrackWithItsLanguageAndTheChapters) {
  const auto usage = run(quote(KESTROVA_MVHEVC_CONVERTER_PATH) + " 2>&1");
  if (usage.out.find("--audio ") == std::string::npos || usage.out.find("--chapters") == std::string::npos)
    GTEST_SKIP() << "this MVHEVCConverter takes one sound track and no chapters";
  const auto result =
      convert(installProgram(dir_ / "install", *tools_, Variant::fifo), *disc_ / "disc.iso", dir_ / "out", true);
  ASSERT_EQ(result.status, 0) << result.out;
  const fs::path spatial = dir_ / "out/KESTROVA_3D_TEST.mov";
  const Tracks tracks = probeTracks(spatial);
  ASSERT_EQ(tracks.tracks.size(), 2u) << result.out;
  EXPECT_EQ(tracks.tracks[0], (Track{"audio", "aac", "eng", true}));
  EXPECT_EQ(tracks.tracks[1], (Track{"audio", "aac", "fra", false}));
  EXPECT_NEAR(toneOf(spatial, "a:0", dir_.path()), 1000, 50);
  EXPECT_NEAR(toneOf(spatial, "a:1", dir_.path()), 440, 50);
  EXPECT_EQ(tracks.chapters.size(), 4u);
}

} // namespace
} // namespace kestrova::bluray::test
