#include "Chapters.h"
#include "Converter.h"
#include "Language.h"
#include "PartialFile.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>
#include <vector>

namespace kestrova::mvhevc {
namespace {

// The converter's command line after its name; none when it is refused as invalid.
std::optional<ConversionRequest> parse(std::vector<const char *> args) {
  args.insert(args.begin(), "MVHEVCConverter");
  try {
    return parseArguments(static_cast<int>(args.size()), args.data());
  } catch (const std::invalid_argument &) {
    return std::nullopt;
  }
}

TEST(Arguments, FramePairsOnStandardInputNeedTheirLayout) {
  struct Case {
    std::vector<const char *> args;
    bool valid;
    PairFormat expected;
  };
  const Case cases[] = {
      {{"-", "out.mov", "0.85", "--view-size", "1920x1080", "--frame-rate", "24000/1001"},
       true,
       {1920, 1080, 24000, 1001, false, 0, {}}},
      {{"--eye-order", "right-first", "-", "out.mov", "0.85", "25", "--view-size", "320x180", "--frame-rate", "24",
        "--pairs", "12", "--sound", "film.m2ts"},
       true,
       {320, 180, 24, 1, true, 12, {}}},
      {{"-", "out.mov", "0.85", "--view-size", "1920x1080"}, false, {}},
      {{"-", "out.mov", "0.85", "--view-size", "1919x1080", "--frame-rate", "24"}, false, {}},
      {{"in.mov", "out.mov", "0.85", "--view-size", "320x180"}, false, {}},
      // A chunk's sound goes in when the chunks are joined.
      {{"-", "c.hevc", "0.85", "--view-size", "320x180", "--frame-rate", "24", "--chunk", "--sound", "a.m2ts"},
       false,
       {}},
  };
  for (const auto &c : cases) {
    const auto request = parse(c.args);
    ASSERT_EQ(request.has_value(), c.valid) << c.args.size();
    if (!request) {
      continue;
    }
    ASSERT_TRUE(request->pairs.has_value());
    const auto &p = *request->pairs;
    EXPECT_EQ(std::tie(p.viewWidth, p.viewHeight, p.frameRateNum, p.frameRateDen, p.rightFirst, p.expectedPairs),
              std::tie(c.expected.viewWidth, c.expected.viewHeight, c.expected.frameRateNum, c.expected.frameRateDen,
                       c.expected.rightFirst, c.expected.expectedPairs));
  }
}

TEST(Arguments, SoundOptionsBelongToTheAudioBeforeThemForEitherInput) {
  using Track = std::tuple<std::string, std::optional<int>, std::string>;
  struct Case {
    std::vector<const char *> args;
    std::vector<Track> expected; ///< empty: the command line is rejected
  };
  const Case cases[] = {
      {{"--sound", "a.m2ts", "--audio", "b.mkv", "--audio-language", "fre", "--audio-stream", "3"},
       {{"a.m2ts", std::nullopt, ""}, {"b.mkv", 3, "fra"}}},
      {{"--audio", "a.mkv", "--audio-stream", "2", "--audio", "a.mkv", "--audio-language", "ENG"},
       {{"a.mkv", 2, ""}, {"a.mkv", std::nullopt, "eng"}}},
      {{"--audio-language", "eng", "--audio", "a.mkv"}, {}},
      {{"--audio", "a.mkv", "--audio-stream", "1", "--audio-stream", "2"}, {}},
  };
  for (const bool pairs : {false, true}) {
    for (const auto &c : cases) {
      std::vector<const char *> args = {pairs ? "-" : "in.mov", "out.mov", "0.85"};
      if (pairs) {
        args.insert(args.end(), {"--view-size", "320x180", "--frame-rate", "24"});
      }
      args.insert(args.end(), c.args.begin(), c.args.end());
      const auto request = parse(args);
      ASSERT_EQ(request.has_value(), !c.expected.empty()) << c.args.front();
      if (!request) {
        continue;
      }
      std::vector<Track> tracks;
      for (const auto &track : request->audio) {
        tracks.emplace_back(track.file, track.stream, track.language);
      }
      EXPECT_EQ(tracks, c.expected);
    }
  }
}

TEST(Chapters, LinesOfStartTabTitle) {
  struct Case {
    std::string text;
    std::vector<double> starts; ///< empty: rejected
  };
  const Case cases[] = {
      {"0\tOpening\r\n\r\n90.5\tTabs\tin the title\n", {0, 90.5}},
      {"0\tOpening\n1,5\tComma\n", {}},
      {"5\tA\n5\tB\n", {}},
  };
  for (const auto &c : cases) {
    std::istringstream in(c.text);
    if (c.starts.empty()) {
      EXPECT_THROW(parseChapters(in, "list.txt"), InputError) << c.text;
      continue;
    }
    const auto chapters = parseChapters(in, "list.txt");
    ASSERT_EQ(chapters.size(), c.starts.size());
    for (std::size_t i = 0; i < chapters.size(); ++i) {
      EXPECT_EQ(chapters[i].startSeconds, c.starts[i]);
    }
    EXPECT_EQ(chapters.back().title, "Tabs\tin the title");
  }
}

TEST(Language, ContainerTagsBecomeTerminologicalCodes) {
  for (const auto &[tag, code] :
       {std::pair{"fre", "fra"}, std::pair{"GER", "deu"}, std::pair{"en", "eng"}, std::pair{"pt-BR", "por"},
        std::pair{"jpn", "jpn"}, std::pair{"English", "und"}, std::pair{"", "und"}}) {
    EXPECT_EQ(isoLanguage(tag), code) << tag;
  }
}

TEST(PartialFile, TemporaryNamesStayWithin255BytesAndWholeCharacters) {
  const std::string eAcute = "\xC3\xA9"; // two bytes in UTF-8
  std::string accented;
  while (accented.size() < 240) {
    accented += eAcute;
  }
  for (const auto &name : {std::string("film_MV-HEVC.mov"), std::string(240, 'a') + "_MV-HEVC.mov",
                           std::string(255, 'b'), accented + "_MV-HEVC.mov"}) {
    const auto temporary = temporaryName(name, 4194303);
    EXPECT_LE(temporary.size(), 255U) << name;
    EXPECT_TRUE(temporary.ends_with(".partial-4194303")) << temporary;
    const auto stem = temporary.substr(1, temporary.size() - 1 - std::string(".partial-4194303").size());
    EXPECT_TRUE(name.starts_with(stem)) << temporary;
    if (name.starts_with(eAcute)) {
      EXPECT_EQ(stem.size() % 2, 0U) << "a character cut in two";
    }
  }
  EXPECT_EQ(temporaryName("short.mov", 12), ".short.mov.partial-12");
}

} // namespace
} // namespace kestrova::mvhevc
