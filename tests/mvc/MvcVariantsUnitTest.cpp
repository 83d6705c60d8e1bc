#include "pipeline/DirectMvhevcPipe.h"
#include "pipeline/HelperOutputParsers.h"
#include "pipeline/ParallelDecode.h"
#include "pipeline/SbsPipeDecode.h"
#include "pipeline/ShellQuote.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <sys/wait.h>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;

StreamDecodeRequest filmRequest() {
  StreamDecodeRequest request;
  request.input = "/work/Kestrova_AB12CD34/film_interleaved.264";
  request.workDirectory = "/work/Kestrova_AB12CD34";
  request.audioSource = "/films/film.m2ts";
  request.output = "/out/film_SBS.mkv";
  request.preset = QualityPreset::high;
  request.target = OutputTarget::sbs3D;
  request.width = 1920;
  request.height = 1080;
  request.frameRateNum = 24000;
  request.frameRateDen = 1001;
  return request;
}

const PipeTools kTools{"/t/ldecod-pipe", "/t/yuv_hstack", "/t/ffmpeg"};

// The chosen H.264 is what the side-by-side file gets, with no HEVC tag.
TEST(PipePipelineScript, WritesTheChosenCodec) {
  auto request = filmRequest();
  request.codec = OutputCodec::h264;
  const auto script = pipePipelineScript(request, kTools, EncoderTable::forPlatform(true));
  EXPECT_NE(script.find("-c:v h264_videotoolbox"), std::string::npos) << script;
  for (const char *absent : {"hevc", "hvc1"})
    EXPECT_EQ(script.find(absent), std::string::npos) << absent;
}

TEST(PipePipelineScript, QuotesEveryPath) {
  auto request = filmRequest();
  const std::string hostile = "/w/it's $(touch x) `y` \"q\" \\";
  request.input = hostile + "/in.264";
  request.workDirectory = hostile;
  request.audioSource = hostile + "/src.mkv";
  request.output = hostile + "/out.mkv";
  auto script = pipePipelineScript(request, {hostile + "/ldecod-pipe", hostile + "/yuv_hstack", hostile + "/ffmpeg"},
                                   EncoderTable::forPlatform(true));
  for (const auto &path : {hostile, hostile + "/ldecod-pipe", "InputFile=" + hostile + "/in.264", hostile + "/src.mkv",
                           hostile + "/out.mkv"})
    EXPECT_NE(script.find(shellQuote(path)), std::string::npos) << path;
}

// The one-encode script run for real, with stand-ins for the decoder, the
// converter and (when a side-by-side file is kept) its encoder, in a folder
// whose name a shell would misread: the pairs reach every encoder with the
// converter's arguments intact, and the status line tells which side failed
// (one that stops leaves the others a broken pipe: SIGPIPE, or EPIPE where
// the test's own process ignores the signal).
TEST(DirectPipelineScript, CarriesThePairsAndNamesTheSideThatFailed) {
  struct Row {
    const char *name;
    const char *decoderEnd;    // after writing its pairs
    const char *converterRun;  // what the converter does with its input
    const char *sideBySideRun; // the kept file's encoder; none without
    std::string statusLine;    // decoder, converter[, tee, side-by-side]
  };
  const char *keep = "cat >\"$(dirname \"$0\")/pairs.$(basename \"$0\")\"; exit 0";
  const Row rows[] = {
      {"both succeed", "exit 0", keep, nullptr, "0 0"},
      {"decoder fails", "exit 1", "cat >/dev/null; exit 0", nullptr, "1 0"},
      {"converter fails reading", "exit 0", "cat >/dev/null; exit 3", nullptr, "0 3"},
      {"converter stops at once", "sleep 1; echo more; exit 0", "exit 1", nullptr, "(141|1) 1"},
      {"kept: all succeed", "exit 0", keep, keep, "0 0 0 0"},
      {"kept: side-by-side fails at once", "sleep 1; echo more; exit 0", "cat >/dev/null; exit 0", "exit 5",
       "[0-9]+ 0 (141|1) 5"},
      {"kept: converter stops at once", "sleep 1; echo more; exit 0", "exit 1", "cat >/dev/null; exit 0",
       "[0-9]+ 1 (141|1) 0"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    kestrova::test::TempDir dir;
    const fs::path work = dir / "it's $(x) `y`";
    fs::create_directories(work);
    auto program = [&work](const char *name, const std::string &body) {
      kestrova::test::writeFile(work / name, "#!/bin/bash\n" + body + "\n");
      fs::permissions(work / name, fs::perms::owner_exec, fs::perm_options::add);
    };
    program("decoder", std::string("echo pairs\n") + row.decoderEnd);
    program("converter", std::string("printf '%s\\n' \"$@\" >\"$(dirname \"$0\")/arguments\"\n") + row.converterRun);
    DirectTools tools{(work / "decoder").string(), (work / "converter").string(), {}};
    if (row.sideBySideRun) {
      program("sbs", row.sideBySideRun);
      tools.sideBySide = shellQuote((work / "sbs").string());
    }
    auto request = filmRequest();
    request.workDirectory = work;
    request.audioSource = work / "film.m2ts";
    request.output = work / "film.mov";
    request.duration = 10;
    kestrova::test::writeFile(work / "direct.sh", directPipelineScript(request, tools));
    const std::string command = "bash " + shellQuote((work / "direct.sh").string()) + " 2>&1";
    FILE *pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
      output += buffer;
    const int status = ::pclose(pipe);
    const bool success = row.statusLine == "0 0" || row.statusLine == "0 0 0 0";
    EXPECT_EQ(WEXITSTATUS(status) == 0, success) << output;
    EXPECT_TRUE(std::regex_search(output, std::regex("direct-pipeline: status " + row.statusLine + "\n"))) << output;
    // File names a shell would misread reach the converter intact.
    const std::string arguments = kestrova::test::readFile(work / "arguments");
    EXPECT_NE(arguments.find("\n" + request.audioSource.string() + "\n"), std::string::npos) << arguments;
    if (success) {
      EXPECT_EQ(kestrova::test::readFile(work / "pairs.converter"), "pairs\n");
    }
    if (success && row.sideBySideRun) {
      EXPECT_EQ(kestrova::test::readFile(work / "pairs.sbs"), "pairs\n");
    }
  }
}

/// Records what a parser logs and reports.
struct Recorder {
  std::vector<std::string> logged;
  std::vector<std::pair<ConversionStage, double>> reported;
  LogFn log() {
    return [this](const std::string &line) { logged.push_back(line); };
  }
  ProgressReport progress() {
    return [this](ConversionStage stage, double f) { reported.emplace_back(stage, f); };
  }
};

/// Feeds `text` through a line reader in reads of `size` bytes.
template <typename Parser> void feedInChunks(Parser &parser, std::string_view text, std::size_t size) {
  tools::LineReader reader([&parser](std::string_view line) { parser.onLine(line); });
  for (std::size_t at = 0; at < text.size(); at += size)
    reader.feed(text.substr(at, size));
  reader.finish();
}

TEST(ParallelPhaseParser, LogsPhaseLinesAndReportsTheirProgress) {
  const std::string output = "Parallel pipeline v1\n"
                             "Phase 1: scanning access units\n"
                             "Split into 4 segments\n"
                             "  worker_2 segment 2 done (12.0s)\n"
                             "Phase 2 time: 48s\n"
                             "Phase 3: Concat 4 segments\n"
                             "COMPLETE\n"
                             "Total time: 60s\n"
                             "Output: /out/film_SBS.mov\n";
  Recorder r;
  ParallelPhaseParser parser(ConversionStage::encodingMVHEVC, r.progress(), r.log());
  feedInChunks(parser, output, 5);
  EXPECT_EQ(r.logged, (std::vector<std::string>{"Phase 1: scanning access units", "Split into 4 segments",
                                                "worker_2 segment 2 done (12.0s)", "Phase 2 time: 48s",
                                                "Phase 3: Concat 4 segments", "COMPLETE", "Total time: 60s",
                                                "Output: /out/film_SBS.mov"}))
      << "\"Phase 3\" and \"Concat\" are one test: the line is logged once";
  EXPECT_EQ(r.reported, (std::vector<std::pair<ConversionStage, double>>{{ConversionStage::decoding, 0.5},
                                                                         {ConversionStage::decoding, 0.55},
                                                                         {ConversionStage::encodingMVHEVC, 0.8},
                                                                         {ConversionStage::encodingMVHEVC, 0.85},
                                                                         {ConversionStage::encodingMVHEVC, 0.9}}));
  EXPECT_EQ(parser.kept().lines().front(), "Parallel pipeline v1") << "unmatched lines are kept";
}

TEST(ParallelErrorFilter, LogsOnlyErrorLines) {
  Recorder r;
  ParallelErrorFilter filter(r.log());
  feedInChunks(filter, std::string_view("progress 10%\n  ERROR: worker_1 exited 1  \nsegment 3 FAILED\nError\n"), 1000);
  EXPECT_EQ(r.logged,
            (std::vector<std::string>{"\u26a0\ufe0f ERROR: worker_1 exited 1", "\u26a0\ufe0f segment 3 FAILED"}));
}

TEST(PipeToolLineParser, TurnsFramePairsIntoProgressAcrossDecodeAndEncode) {
  Recorder r;
  PipeToolLineParser parser(100, r.progress(), r.log());
  std::string text;
  for (int pairs : {5, 10, 20, 80, 150})
    text += "ldecod-pipe: " + std::to_string(pairs) + " frame pairs decoded\n";
  text += "max_dec_frame_buffering larger than MaxDpbSize\nedge264-pipe: WARNING: 1 picture(s) dropped\n"
          "yuv_hstack: 150 frames stacked\nldecod-pipe: 99999999999999999999 frame pairs decoded\n";
  feedInChunks(parser, text, text.size());
  ASSERT_EQ(r.reported.size(), 5u) << "a count too large to read reports nothing";
  EXPECT_EQ(r.reported[0], std::make_pair(ConversionStage::decoding, 0.5 + 0.05 * 0.35));
  EXPECT_EQ(r.reported[2].first, ConversionStage::decoding) << "0.57 is still decoding";
  EXPECT_EQ(r.reported[3].first, ConversionStage::encoding) << "0.78 is past the decode range";
  EXPECT_DOUBLE_EQ(r.reported[4].second, 0.85) << "capped at the range end";
  EXPECT_EQ(r.logged, (std::vector<std::string>{
                          "ldecod-pipe: 5 frame pairs decoded", "ldecod-pipe: 10 frame pairs decoded",
                          "ldecod-pipe: 20 frame pairs decoded", "ldecod-pipe: 80 frame pairs decoded",
                          "ldecod-pipe: 150 frame pairs decoded", "edge264-pipe: WARNING: 1 picture(s) dropped",
                          "yuv_hstack: 150 frames stacked", "ldecod-pipe: 99999999999999999999 frame pairs decoded"}));
  EXPECT_EQ(parser.kept().joined(2),
            "yuv_hstack: 150 frames stacked\nldecod-pipe: 99999999999999999999 frame pairs decoded");
}

} // namespace
} // namespace kestrova::pipeline
