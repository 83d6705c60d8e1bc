#include "BoxTree.h"
#include "StreamChecker.h"
#include "Validator.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace kestrova::mvhevc::test {
namespace {

namespace fs = std::filesystem;

constexpr int kViewWidth = 128;
constexpr int kHeight = 64;
constexpr int kFrames = 12; // 0.5 s at 24 per second; the sound lasts 1 s
constexpr std::size_t kViewBytes = kViewWidth * kHeight * 3 / 2;
const std::string kSystemFfmpeg = "/usr/bin/ffmpeg";
const std::string kSystemFfprobe = "/usr/bin/ffprobe";

// ffprobe's compact lines as key=value maps.
std::vector<std::map<std::string, std::string>> probe(const fs::path &file, const std::string &what) {
  const auto result = run(quote(kSystemFfprobe) + " -v error " + what + " -of compact " + quote(file.string()));
  if (result.status != 0) {
    throw std::runtime_error(result.err);
  }
  std::vector<std::map<std::string, std::string>> entries;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    std::map<std::string, std::string> entry;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '|');) {
      if (const auto at = field.find('='); at != std::string::npos) {
        entry[field.substr(0, at)] = field.substr(at + 1);
      }
    }
    if (!entry.empty()) { // not a packet's side data
      entries.push_back(std::move(entry));
    }
  }
  return entries;
}

// A side-by-side clip with a disc's kinds of sound, each longer than the pictures: AC3 5.1
// English, AAC stereo French (tagged with the bibliographic "fre"), DTS with no language; the
// same pictures as view pairs on a pipe; and a chapter list.
class Tracks : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!fs::exists(kSystemFfmpeg)) {
      return;
    }
    dir_ = std::make_unique<kestrova::test::TempDir>();
    const auto ffmpeg = quote(kSystemFfmpeg) + " -v error -y ";
    static_assert(kViewWidth == 128 && kHeight == 64 && kFrames == 12, "the clip below");
    const auto half = [&](const char *crop, const char *name) {
      return ffmpeg + "-i " + quote(path("sbs.mkv")) + " -map 0:v -fps_mode passthrough -vf crop=" + crop +
             " -pix_fmt yuv420p -f rawvideo " + quote(path(name));
    };
    const auto made = run(
        ffmpeg +
        "-f lavfi -t 0.5 -i testsrc2=size=256x64"
        ":rate=24 -f lavfi -t 1 -i sine=frequency=440:sample_rate=48000 -f lavfi -t 1 -i "
        "sine=frequency=660:sample_rate=44100 -filter_complex '[1:a]pan=5.1(side)|FL=c0|FR=c0|FC=c0|LFE=c0|SL=c0|"
        "SR=c0[surround];[2:a]aformat=channel_layouts=stereo[stereo]' -map 0:v -map '[surround]' -map '[stereo]' "
        "-map 1:a -c:v ffv1 -pix_fmt yuv420p -c:a:0 ac3 -c:a:1 aac -c:a:2 dca -strict -2 -metadata:s:a:0 "
        "language=eng"
        " -metadata:s:a:1 language=fre " +
        quote(path("sbs.mkv")) + " && " + half("128:64:0:0", "view0.yuv") + " && " + half("128:64:128:0", "view1.yuv"));
    made_ = made.status == 0 ? "" : made.err;
    if (made_.empty()) {
      const auto left = readBytes(path("view0.yuv"));
      const auto right = readBytes(path("view1.yuv"));
      std::ofstream pairs(path("pairs.yuv"), std::ios::binary);
      for (std::size_t at = 0; at + kViewBytes <= left.size(); at += kViewBytes) {
        pairs.write(reinterpret_cast<const char *>(left.data() + at), kViewBytes);
        pairs.write(reinterpret_cast<const char *>(right.data() + at), kViewBytes);
      }
    }
    kestrova::test::writeFile(path("chapters.txt"), "0\tOpening\n\n0.25\tLe d\xC3\xA9part\n");
  }
  static void TearDownTestSuite() { dir_.reset(); }

  void SetUp() override {
    if (!dir_) {
      GTEST_SKIP() << "no " << kSystemFfmpeg << " to make the test clip";
    }
    ASSERT_EQ(made_, "");
  }

  static std::string path(const std::string &name) { return (*dir_ / name).string(); }

  // The converter on the side-by-side file, or on the view pairs when `pairs`.
  static RunResult convert(bool pairs, const std::string &options) {
    const auto input =
        pairs ? "- --view-size " + std::to_string(kViewWidth) + "x" + std::to_string(kHeight) + " --frame-rate 24"
              : quote(path("sbs.mkv"));
    return run("KESTROVA_MVHEVC_PRESET=ultrafast " + converter() + " " + input + " " + quote(path("out.mov")) +
               " 0.85 " + options + (pairs ? " < " + quote(path("pairs.yuv")) : ""));
  }

  static inline std::unique_ptr<kestrova::test::TempDir> dir_;
  static inline std::string made_;
};

TEST_F(Tracks, EveryAudioTrackWithItsLanguageTheFirstPlayedAndChapters) {
  struct Sound {
    const char *channels, *layout, *language;
  };
  struct Case {
    bool pairs;
    std::string options;
    std::vector<Sound> sound;
  };
  const auto sbs = quote(path("sbs.mkv"));
  const auto chapters = " --chapters " + quote(path("chapters.txt"));
  const Case cases[] = {
      {false,
       "--audio " + sbs + " --audio " + sbs + " --audio-stream 2 --audio " + sbs +
           " --audio-language ger --audio-stream 3" + chapters,
       {{"6", "5.1", "eng"}, {"2", "stereo", "fra"}, {"1", "mono", "deu"}}},
      {true,
       "--audio " + sbs + " --audio-stream 3 --audio " + sbs + " --audio-stream 2 --audio-language spa" + chapters,
       {{"1", "mono", "und"}, {"2", "stereo", "spa"}}},
      // The one-track form keeps its meaning: the file's first audio track.
      {true, "--sound " + sbs, {{"6", "5.1", "eng"}}},
  };
  const auto validator = requireValidator();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.options);
    const auto result = convert(c.pairs, c.options);
    ASSERT_EQ(result.status, 0) << result.err;

    const auto streams = probe(path("out.mov"), "-show_entries stream=codec_type,codec_name,channels,channel_layout:"
                                                "stream_tags=language:stream_disposition=default");
    std::vector<std::map<std::string, std::string>> audio;
    std::copy_if(streams.begin(), streams.end(), std::back_inserter(audio),
                 [](const auto &s) { return s.at("codec_type") == "audio"; });
    ASSERT_EQ(audio.size(), c.sound.size()) << result.err;
    for (std::size_t i = 0; i < audio.size(); ++i) {
      EXPECT_EQ(audio[i]["codec_name"], "aac") << i;
      EXPECT_EQ(audio[i]["channels"], c.sound[i].channels) << i;
      EXPECT_EQ(audio[i]["channel_layout"], c.sound[i].layout) << i;
      EXPECT_EQ(audio[i]["tag:language"], c.sound[i].language) << i;
      EXPECT_EQ(audio[i]["disposition:default"], i == 0 ? "1" : "0") << i;
      // Every AAC frame plays 1024 samples, whatever the source's clock rounded its duration to (the
      // last as the edit list cuts it).
      auto packets =
          probe(path("out.mov"), "-select_streams a:" + std::to_string(i) + " -show_entries packet=duration");
      packets.pop_back();
      for (const auto &packet : packets) {
        EXPECT_EQ(packet.at("duration"), "1024") << i;
      }
    }

    // One alternate group for the sound; each track as long as the pictures, not its source.
    const auto facts = checkStream(path("out.mov"));
    EXPECT_EQ(facts.samples, static_cast<std::size_t>(kFrames));
    const auto &video = facts.tracks.front();
    std::vector<TrackTiming> sound, text;
    for (const auto &track : facts.tracks) {
      if (track.handler == "soun") {
        sound.push_back(track);
      } else if (track.handler == "text") {
        text.push_back(track);
      }
    }
    ASSERT_EQ(sound.size(), c.sound.size());
    for (const auto &track : sound) {
      EXPECT_EQ(track.alternateGroup, sound.front().alternateGroup);
      EXPECT_NE(track.alternateGroup, 0U);
      EXPECT_NEAR(track.trackSeconds, video.trackSeconds, 1024.0 / 44100 + 0.01);
    }

    const bool withChapters = c.options.find("--chapters") != std::string::npos;
    ASSERT_EQ(text.size(), withChapters ? 1U : 0U);
    EXPECT_EQ(video.chapterTrack, withChapters ? text.front().id : 0U);
    if (withChapters) {
      EXPECT_EQ(text.front().flags & 1, 0U) << "the chapter track is enabled";
      const auto marks = probe(path("out.mov"), "-show_chapters");
      ASSERT_EQ(marks.size(), 2U);
      EXPECT_EQ(marks[0].at("tag:title"), "Opening");
      EXPECT_EQ(marks[1].at("tag:title"), "Le d\xC3\xA9part");
      EXPECT_DOUBLE_EQ(std::stod(marks[0].at("end_time")), 0.25);
      EXPECT_DOUBLE_EQ(std::stod(marks[1].at("start_time")), 0.25);
      EXPECT_NEAR(std::stod(marks[1].at("end_time")), facts.movieSeconds, 0.002); // the movie's end
    }

    if (!validator) {
      continue;
    }
    for (const int view : {0, 1}) {
      const auto decoded = decodeView(*validator, path("out.mov"), view, path("decoded.yuv"));
      EXPECT_GE(psnr(decoded, readBytes(path("view" + std::to_string(view) + ".yuv"))), 35.0);
    }
  }
}

TEST_F(Tracks, BadSoundAndChapterRequestsFailAndLeaveNoOutput) {
  kestrova::test::writeFile(path("bad-chapters.txt"), "0\tOpening\n\n12.5 Second\n");
  struct Case {
    std::string options;
    int status;
    std::string message;
  };
  const auto sbs = quote(path("sbs.mkv"));
  const Case cases[] = {
      {"--audio-stream 1 --audio " + sbs, 2, "--audio-stream"},
      {"--audio " + sbs + " --audio-stream 0", 1, path("sbs.mkv")},
      {"--chapters " + quote(path("bad-chapters.txt")), 1, path("bad-chapters.txt") + " line 3"},
      {"--chapters " + quote(path("missing.txt")), 1, path("missing.txt")},
  };
  for (const auto &c : cases) {
    fs::remove(path("out.mov"));
    const auto result = convert(false, c.options);
    EXPECT_EQ(result.status, c.status) << c.options;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << c.options << ": " << result.err;
    for (const auto &entry : fs::directory_iterator(dir_->path())) {
      EXPECT_EQ(entry.path().filename().string().find("out.mov"), std::string::npos) << c.options;
    }
  }
}

} // namespace
} // namespace kestrova::mvhevc::test
