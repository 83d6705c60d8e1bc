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

TEST(PipePipelineScript, VariesWithEyeOrderTargetAndPlatform) {
  struct Row {
    const char *name;
    bool rightFirst;
    OutputTarget target;
    OutputCodec codec;
    bool videoToolbox;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  };
  const Row rows[] = {
      {"Vision Pro audio",
       false,
       OutputTarget::visionPro,
       OutputCodec::h265,
       true,
       {"     -c:a aac_at -b:a 448k -ac 6 -ar 48000 -shortest"},
       {"-c:a copy"}},
      {"H.264 chosen and written, tagged like HEVC",
       false,
       OutputTarget::sbs3D,
       OutputCodec::h264,
       true,
       {"-c:v h264_videotoolbox -q:v 80 -metadata:s:v:0 stereo_mode=left_right"},
       {"hevc", "hvc1"}},
      {"software stand-ins",
       false,
       OutputTarget::visionPro,
       OutputCodec::h265,
       false,
       {"-c:v libx265 -crf ",
        " -tag:v hvc1 -metadata:s:v:0 stereo_mode=left_right -maxrate 30M -bufsize 60M -pix_fmt yuv420p     -c:a aac "
        "-b:a 448k"},
       {"videotoolbox", "aac_at", "-q:v"}},
  };
  for (const auto &row : rows) {
    auto request = filmRequest();
    request.rightFirst = row.rightFirst;
    request.target = row.target;
    request.codec = row.codec;
    auto script = pipePipelineScript(request, kTools, EncoderTable::forPlatform(row.videoToolbox));
    for (const auto &text : row.present)
      EXPECT_NE(script.find(text), std::string::npos) << row.name << ": " << text;
    for (const auto &text : row.absent)
      EXPECT_EQ(script.find(text), std::string::npos) << row.name << ": " << text;
  }
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
    const std::string arguments = kestrova::test::readFile(work / "arguments");
    EXPECT_EQ(arguments, "-\n" + request.output.string() +
                             "\n0.85\n25\n--view-size\n1920x1080\n--frame-rate\n24000/1001\n--eye-order\nleft-first\n"
                             "--sound\n" +
                             request.audioSource.string() + "\n--pairs\n239\n");
    if (success) {
      EXPECT_EQ(kestrova::test::readFile(work / "pairs.converter"), "pairs\n");
    }
    if (success && row.sideBySideRun) {
      EXPECT_EQ(kestrova::test::readFile(work / "pairs.sbs"), "pairs\n");
    }
  }
}

TEST(ParallelPipelineArguments, FollowTheOptionOrder) {
  const std::vector<std::string> paths{"/t/parallel-pipeline.sh", "/work/Kestrova_AB12CD34/film_interleaved.264",
                                       "/films/film.m2ts", "/out/film_SBS.mkv"};
  const std::vector<std::string> common{"--width", "1920", "--height", "1080", "--fps", "24000/1001"};
  struct Row {
    const char *name;
    QualityPreset preset;
    OutputTarget target;
    bool rightFirst;
    ParallelOptions options;
    std::vector<std::string> tail; // after "--fps", rate
    OutputCodec codec = OutputCodec::h265;
    const char *decoder = "ldecod-pipe";
  };
  const std::string work = "/work/Kestrova_AB12CD34";
  const Row rows[] = {
      {"SBS, high",
       QualityPreset::high,
       OutputTarget::sbs3D,
       false,
       {},
       {"--quality", "80", "--audio-args", "-c:a copy", "--workdir", work, "--maxrate", "30"}},
      {"medium has no cap",
       QualityPreset::medium,
       OutputTarget::sbs3D,
       false,
       {},
       {"--quality", "65", "--audio-args", "-c:a copy", "--workdir", work}},
      {"direct MV-HEVC, ultra high",
       QualityPreset::ultraHigh,
       OutputTarget::visionPro,
       false,
       {true, false, 0, std::nullopt},
       {"--quality", "0.88", "--audio-args", "-c:a aac_at -b:a 448k -ac 6 -ar 48000", "--workdir", work, "--mvhevc",
        "--maxrate", "35"}},
      {"stream mode without a size",
       QualityPreset::low,
       OutputTarget::sbs3D,
       false,
       {false, true, 0, std::nullopt},
       {"--quality", "45", "--audio-args", "-c:a copy", "--workdir", work, "--stream"}},
      {"H.264 chosen",
       QualityPreset::medium,
       OutputTarget::sbs3D,
       false,
       {},
       {"--quality", "65", "--audio-args", "-c:a copy", "--workdir", work, "--codec", "h264"},
       OutputCodec::h264},
      {"everything",
       QualityPreset::high,
       OutputTarget::visionPro,
       true,
       {true, true, 5000, fs::path("/work/Kestrova_AB12CD34/film.mvc")},
       {"--quality", "0.85", "--audio-args", "-c:a aac_at -b:a 448k -ac 6 -ar 48000", "--workdir", work, "--mvhevc",
        "--stream", "--estimated-size", "5000", "--maxrate", "25", "--swap", "--dual-split",
        "/work/Kestrova_AB12CD34/film_interleaved.264", "/work/Kestrova_AB12CD34/film.mvc", "--decoder",
        "edge264-pipe"},
       OutputCodec::h265,
       "edge264-pipe"},
  };
  for (const auto &row : rows) {
    auto request = filmRequest();
    request.preset = row.preset;
    request.target = row.target;
    request.rightFirst = row.rightFirst;
    request.decoder = row.decoder;
    request.codec = row.codec;
    request.output = paths[3];
    std::vector<std::string> expected = paths;
    expected.insert(expected.end(), common.begin(), common.end());
    expected.insert(expected.end(), row.tail.begin(), row.tail.end());
    EXPECT_EQ(parallelPipelineArguments(paths[0], request, row.options), expected) << row.name;
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

/// Feeds `text` in chunks of `size` bytes.
template <typename Parser> void feedInChunks(Parser &parser, std::string_view text, std::size_t size) {
  for (std::size_t at = 0; at < text.size(); at += size)
    parser.feed(text.substr(at, size));
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
  feedInChunks(parser, output, output.size());
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
  EXPECT_EQ(parser.lines().front(), "Parallel pipeline v1") << "unmatched lines are kept";
}

TEST(ParallelPhaseParser, ChunksThatCutLinesCountAsTwoLines) {
  Recorder r;
  ParallelPhaseParser parser(ConversionStage::encoding, r.progress(), r.log());
  feedInChunks(parser, std::string_view("Phase 1 start\nSplit into 2 segments\n"), 5);
  // "Phase" | " 1 st" | "art\nS" ... : no piece holds a whole test string.
  EXPECT_TRUE(r.reported.empty());
  EXPECT_EQ(parser.lines().size(), 8u) << "Phase, 1 st, art, S, plit, into, 2 seg, ments";
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
  parser.feed(text);
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
  EXPECT_EQ(joinLastLines(parser.lines(), 2),
            "yuv_hstack: 150 frames stacked\nldecod-pipe: 99999999999999999999 frame pairs decoded");
}

} // namespace
} // namespace kestrova::pipeline
