#include "cli/CommandLine.h"
#include "cli/JobOptions.h"
#include "cli/OptionDocs.h"
#include "cli/Usage.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>

namespace kestrova::cli {
namespace {
namespace fs = std::filesystem;

std::vector<std::string> argv(std::initializer_list<std::string> words) {
  std::vector<std::string> arguments{"kestrova"};
  arguments.insert(arguments.end(), words);
  return arguments;
}

// Each option's effect on the job, against stored choices that differ from
// every option's value.
TEST(CommandLine, EachOptionReachesTheJob) {
  const StoredChoices stored{QualityPreset::high, OutputTarget::visionPro, false, kDefaultSubtitleDepth, {}};
  struct Row {
    std::vector<std::string> arguments;
    std::function<void(ConversionJob &)> change; // from the job of the stored choices
  };
  const Row rows[] = {
      {{}, [](ConversionJob &) {}},
      {{"--target", "sbs"}, [](ConversionJob &j) { j.outputTarget = OutputTarget::sbs3D; }},
      {{"--quality", "ultra-high"}, [](ConversionJob &j) { j.qualityPreset = QualityPreset::ultraHigh; }},
      {{"--codec", "hevc"}, [](ConversionJob &j) { j.outputCodec = OutputCodec::h265; }},
      {{"--keep-sbs"}, [](ConversionJob &j) { j.keepSideBySide = true; }},
      {{"--keep-sbs", "--no-keep-sbs"}, [](ConversionJob &) {}},
      {{"--layout", "half-tab"}, [](ConversionJob &j) { j.layout = StereoLayout::halfTopAndBottom; }},
      {{"--swap-eyes"}, [](ConversionJob &j) { j.swapEyes = true; }},
      {{"--playlist", "800"}, [](ConversionJob &j) { j.playlist = 800; }},
      {{"--keep-work"}, [](ConversionJob &j) { j.keepWork = true; }},
      {{"--overwrite"}, [](ConversionJob &j) { j.replaceExisting = true; }},
      {{"--subtitles", "ENG", "--subtitle-plane", "3", "--subtitle-depth", "-2"},
       [](ConversionJob &j) {
         j.subtitles = {"eng", 3, -2};
       }},
      {{"--quality", "high", "--quality", "smaller"}, [](ConversionJob &j) { j.qualityPreset = QualityPreset::low; }},
      {{"--jobs", "3", "--no-resume", "--cut-only"},
       [](ConversionJob &j) { j.chunking.jobs = 3, j.chunking.resume = false, j.chunking.cutOnly = true; }},
      {{"--hosts", "/h", "--remote-only"},
       [](ConversionJob &j) { j.chunking.hosts = "/h", j.chunking.remoteOnly = true; }},
  };
  for (const auto &row : rows) {
    std::vector<std::string> arguments{"kestrova", "--auto-convert", "a.m2ts"};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    ConversionJob expected;
    expected.sourceURL = "/in/a.m2ts";
    expected.outputDirectory = "/out";
    expected.qualityPreset = QualityPreset::high;
    expected.outputTarget = OutputTarget::visionPro;
    expected.keepSideBySide = false;
    row.change(expected);
    EXPECT_EQ(jobFor(parseCommandLine(arguments), stored, std::nullopt, "/in/a.m2ts", "/out"), expected)
        << ::testing::PrintToString(row.arguments);
  }
  // The stored keepSBSIntermediate counts unless an option says otherwise.
  StoredChoices keeping = stored;
  keeping.keepSideBySide = true;
  EXPECT_TRUE(jobFor(parseCommandLine(argv({"x"})), keeping, std::nullopt, "x", "o").keepSideBySide);
  EXPECT_FALSE(jobFor(parseCommandLine(argv({"x", "--no-keep-sbs"})), keeping, std::nullopt, "x", "o").keepSideBySide);
}

TEST(CommandLine, WordsAreReadInOrderAndValuesAreNeverOptions) {
  struct Row {
    std::vector<std::string> arguments;
    std::vector<std::string> inputs;
    std::optional<std::string> output;
    InfoRequest info = InfoRequest::none;
  };
  const Row rows[] = {
      {argv({"--output", "--overwrite", "a.mkv"}), {"a.mkv"}, "--overwrite"},
      {argv({"--input", "--help", "--auto-convert"}), {"--help"}, std::nullopt},
      {argv({"a.mkv", "--input", "b.m2ts", "c.mp4", "--input=d.mkv"}), {"a.mkv", "b.m2ts", "c.mp4", "d.mkv"}, {}},
      {argv({"--output", "x", "--output", "y", "--", "--overwrite", "-h"}), {"--overwrite", "-h"}, "y"},
      {argv({"--version", "--help"}), {}, std::nullopt, InfoRequest::version},
      // A lone "-" is a word: a chunk job's missing piece.
      {argv({"--encode-chunk", "piece.mkv", "-", "chunk.hevc"}), {"-", "chunk.hevc"}, std::nullopt},
      // Reading stops at a request for help: what follows may be anything.
      {argv({"a.mkv", "-h", "--bogus"}), {"a.mkv"}, std::nullopt, InfoRequest::help},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.arguments));
    CommandLine line = parseCommandLine(row.arguments);
    EXPECT_EQ(line.inputs, row.inputs);
    EXPECT_EQ(line.output, row.output);
    EXPECT_FALSE(line.overwrite);
    EXPECT_EQ(line.info, row.info);
  }
}

TEST(CommandLine, WrongWordsAreUsageErrorsNamingThem) {
  struct Row {
    std::vector<std::string> arguments;
    std::string named;
  };
  const Row rows[] = {
      {argv({"--outptu", "x", "--input", "a.mkv", "--auto-convert"}), "\"--outptu\""},
      {argv({"--input", "a.mkv", "--output"}), "--output"},
      {argv({"--target", "3d", "a.mkv"}), "\"3d\""},
      {argv({"--layout", "sbs", "a.mkv"}), "\"sbs\""},
      {argv({"--playlist", "-1", "a.mkv"}), "--playlist"},
      {argv({"--overwrite=yes", "a.mkv"}), "--overwrite"},
      {argv({"--subtitle-plane", "32", "a.mkv"}), "--subtitle-plane"},
      {argv({"--subtitle-depth", "deep", "a.mkv"}), "--subtitle-depth"},
      {argv({"--auto-convert", "--output", "o"}), "--auto-convert"},
  };
  for (const auto &row : rows) {
    try {
      parseCommandLine(row.arguments);
      ADD_FAILURE() << "accepted: " << ::testing::PrintToString(row.arguments);
    } catch (const UsageError &error) {
      EXPECT_NE(std::string(error.what()).find(row.named), std::string::npos) << error.what();
    }
  }
}

TEST(CommandLine, DurationsThatAreNotUsedSaySo) {
  EXPECT_EQ(readDuration("90").limit, 90);
  EXPECT_EQ(readDuration("+90").warning, std::nullopt);
  for (const char *text : {"abc", "-5", "0.5", "0", "", "99999999999999999999"}) {
    DurationReading reading = readDuration(text);
    EXPECT_EQ(reading.limit, std::nullopt) << text;
    ASSERT_TRUE(reading.warning) << text;
    EXPECT_NE(reading.warning->find(std::string("\"") + text + "\""), std::string::npos) << *reading.warning;
  }
}

TEST(CommandLine, StoredChoicesAndTheirWarnings) {
  struct Row {
    const char *settings;
    StoredChoices read;
    const char *reported; // the key a warning names, or null
  };
  using enum QualityPreset;
  using enum OutputTarget;
  constexpr int depth = kDefaultSubtitleDepth;
  const Row rows[] = {
      {"{}", {high, visionPro, false, depth, {}}, nullptr},
      {R"json({"qualityPreset": "Smaller File", "outputTarget": "SBS 3D (MKV)", "keepSBSIntermediate": true,
               "chunkSeconds": 30, "jobs": 4, "hosts": "/h", "remoteOnly": true})json",
       {medium, sbs3D, true, depth, {30.0, 4, true, "/h", true}},
       nullptr},
      {R"json({"outputTarget": "apple vision pro (mv-hevc)"})json", {high, sbs3D, false, depth, {}}, "outputTarget"},
      {R"json({"qualityPreset": "Ultra"})json", {ultraHigh, visionPro, false, depth, {}}, "qualityPreset"},
      {R"json({"keepSBSIntermediate": "false"})json", {high, visionPro, false, depth, {}}, "keepSBSIntermediate"},
  };
  for (const auto &row : rows) {
    test::TempDir dir;
    test::writeFile(dir / "settings.json", row.settings);
    std::ostringstream diagnostics;
    SettingsStore store(dir / "settings.json", &diagnostics);
    EXPECT_EQ(readStoredChoices(store), row.read) << row.settings;
    if (row.reported)
      EXPECT_NE(diagnostics.str().find(row.reported), std::string::npos) << row.settings << diagnostics.str();
    else
      EXPECT_EQ(diagnostics.str(), "") << row.settings;
  }
}

// The manual page and the completion are made from the option table; with
// KESTROVA_REGENERATE_DOCS=1 this test writes them instead of comparing.
TEST(CommandLine, ManualCompletionAndHelpFollowTheOptionTable) {
  const fs::path page = test::sourceDir() / "data/kestrova.1";
  const fs::path completion = test::sourceDir() / "data/kestrova.bash-completion";
  std::string text = test::readFile(page);
  const auto begin = text.find(".SH OPTIONS\n");
  ASSERT_NE(begin, std::string::npos);
  const auto end = text.find("\n.SH ", begin + 1) + 1;
  const bool regenerate = std::getenv("KESTROVA_REGENERATE_DOCS") != nullptr;
  if (regenerate) {
    test::writeFile(page, text.replace(begin, end - begin, manualOptionsSection()));
    test::writeFile(completion, bashCompletionScript());
  }
  EXPECT_EQ(text.substr(begin, end - begin), manualOptionsSection())
      << "run this test with KESTROVA_REGENERATE_DOCS=1 to rewrite " << page;
  EXPECT_EQ(test::readFile(completion), bashCompletionScript())
      << "run this test with KESTROVA_REGENERATE_DOCS=1 to rewrite " << completion;
  const std::string help = helpText();
  for (const auto &option : optionTable()) {
    EXPECT_NE(help.find(std::string(option.name) + " "), std::string::npos) << option.name;
    for (const auto &choice : option.choices)
      EXPECT_NE(help.find(choice.word), std::string::npos) << choice.word;
  }
}

} // namespace
} // namespace kestrova::cli
