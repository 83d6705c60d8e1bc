#include "MvcTestSupport.h"
#include "core/Errors.h"
#include "nal/InterleaveError.h"
#include "pipeline/InterleaveStep.h"
#include "pipeline/LdecodDecode.h"
#include "pipeline/SbsEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::conversionErrorOf;

constexpr int kWidth = 64, kHeight = 48, kFrames = 12;

struct DecodeFixture : test::MvcEngineFixture {
  fs::path work = dir / "work";
  fs::path interleaved = work / "m_interleaved.264";
  DecodeFixture() {
    fs::create_directories(work);
    test::writeFile(work / "m.264", test::baseViewStream(kFrames, kWidth, kHeight));
    test::writeFile(work / "m.mvc", test::mvcViewStream(kFrames, kWidth, kHeight));
  }
};

// The interleave step stops with the engine's cancel and lets the interleaver's errors through.
TEST(InterleaveStep, StopsWithTheEngineAndPassesErrorsOn) {
  DecodeFixture f;
  f.engine->beginRun();
  f.engine->cancel(); // no tool is running, so this only raises the flag
  interleaveNALUnits(*f.engine, f.work / "m.264", f.work / "m.mvc", f.interleaved);
  EXPECT_EQ(fs::file_size(f.interleaved), 0u);
  EXPECT_THROW(interleaveNALUnits(*f.engine, f.work / "a.264", f.work / "a.mvc", f.interleaved), nal::InterleaveError);
}

TEST(LdecodDecodeStep, ArgumentsAndKeptErrorLines) {
  DecodeFixture f;
  std::string errors;
  for (int i = 1; i <= 120; ++i)
    errors += "error line " + std::to_string(i) + "\n";
  f.tools.add(
      "ldecod",
      {{"steps", {{{"stderr", errors}}, {{"stdout", "00000(IDR)  0 0 28\n00500(P)  1 1 28\n"}}, {{"exit", 1}}}}});
  test::writeFile(f.interleaved, "x");
  auto error =
      conversionErrorOf([&] { decodeWithLdecod(*f.engine, f.interleaved, f.work, 1000, f.progressRecorder()); });
  EXPECT_EQ(error, ConversionError::decodingFailed("ldecod exited with code 1"));

  auto calls = f.tools.calls("ldecod");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(fs::path(calls[0].cwd), f.work) << "the decoder writes its own files there";

  const std::string last = f.logLines().back();
  EXPECT_NE(last.find("error line 120"), std::string::npos) << "the decoder's last words reach the log";
  EXPECT_EQ(f.progressPairs().back(), std::make_pair(ConversionStage::decoding, 0.5 + 0.2 * 2 / 1000));
}

/// Two raw views of flat luma (dark left source, bright right source) and a
/// source with audio, for the encode step.
struct EncodeFixture : test::MvcEngineFixture {
  SbsEncodeRequest request;
  EncodeFixture() {
    test::writeFile(dir / "v0.yuv", frames(40));
    test::writeFile(dir / "v1.yuv", frames(200));
    request.leftView = dir / "v0.yuv";
    request.rightView = dir / "v1.yuv";
    request.audioSource = dir / "source.mkv";
    request.output = dir / "out_SBS.mkv";
    request.duration = 0.5;
    request.width = kWidth;
    request.height = kHeight;
    request.frameRateNum = 24;
    request.frameRateDen = 1;
  }
  static std::string frames(unsigned char luma) {
    std::string frame(kWidth * kHeight, static_cast<char>(luma));
    frame += std::string(kWidth * kHeight / 2, static_cast<char>(128));
    std::string all;
    for (int i = 0; i < kFrames; ++i)
      all += frame;
    return all;
  }
};

TEST(SbsEncodeStep, ExitStatusAndOutputDecideTheOutcome) {
  struct Row {
    const char *name;
    bool writesOutput;
    std::string standardError;
    int status;
    std::optional<ConversionError> error;
  };
  std::string longError(600, 'e');
  const Row rows[] = {
      {"encoder produced nothing", true, "[vost#0] Encoder did not produce output\n", 1,
       ConversionError::encodingFailed("ffmpeg failed to produce output")},
      {"complete file despite exit 1", true, longError + "\n", 1, std::nullopt},
      {"clean exit without a file", false, "", 0, ConversionError::encodingFailed("Output file not created")},
  };
  for (const auto &row : rows) {
    EncodeFixture f;
    json steps = json::array();
    if (row.writesOutput)
      steps.push_back({{"write_file", f.request.output.string()}, {"content", "mkv"}});
    steps.push_back({{"stderr", row.standardError}});
    steps.push_back({{"exit", row.status}});
    f.tools.add("ffmpeg", {{"steps", steps}});
    if (row.error) {
      EXPECT_EQ(conversionErrorOf([&] { encodeSBS(*f.engine, f.request, {}); }), *row.error) << row.name;
      continue;
    }
    EXPECT_NO_THROW(encodeSBS(*f.engine, f.request, {})) << row.name;
  }
  EncodeFixture missing;
  auto error = conversionErrorOf([&] { encodeSBS(*missing.engine, missing.request, {}); });
  EXPECT_EQ(error.kind(), ConversionError::Kind::toolNotFound);
  EXPECT_NE(error.detail().find("ffmpeg"), std::string::npos) << error.detail();
}

// Each preset must be its own rate point with the software stand-ins:
// smaller files and lower fidelity from "Ultra High" down to "Smaller File".
TEST(SbsEncodeStep, PresetsAreDistinctRatePoints) {
  for (OutputCodec codec : {OutputCodec::h264, OutputCodec::h265}) {
    test::MvcEngineFixture f;
    f.addRealFfmpeg();
    fs::path source = f.dir / "source.mkv";
    test::makeSourceWithAudio(source);
    tools::ProcessLaunch launch;
    launch.executable = "/usr/bin/ffmpeg";
    const std::string view = (f.dir / "view.yuv").string();
    launch.arguments = {"-v", "error", "-f",       "lavfi",   "-i", "testsrc2=size=160x96:rate=24,noise=alls=12:allf=t",
                        "-t", "1",     "-pix_fmt", "yuv420p", "-f", "rawvideo",
                        view};
    ASSERT_TRUE(tools::runAndCollect(launch).status.success());
    double lastSize = 1e18, lastSsim = 2;
    for (QualityPreset preset :
         {QualityPreset::ultraHigh, QualityPreset::high, QualityPreset::medium, QualityPreset::low}) {
      SbsEncodeRequest request;
      request.leftView = request.rightView = view;
      request.audioSource = source;
      request.output = f.dir / ("out" + std::string(caseName(preset)) + ".mkv");
      request.preset = preset;
      request.codec = codec;
      request.duration = 1;
      request.width = 160;
      request.height = 96;
      request.frameRateNum = 24;
      request.frameRateDen = 1;
      encodeSBS(*f.engine, request, {});
      const std::string encoded = request.output.string();
      launch.arguments = {
          "-i",     encoded, "-f", "rawvideo", "-pix_fmt", "yuv420p", "-s",
          "160x96", "-r",    "24", "-i",       view,       "-lavfi",  "[1:v][1:v]hstack=inputs=2[ref];[0:v][ref]ssim",
          "-f",     "null",  "-"};
      auto output = tools::runAndCollect(launch).standardError;
      auto at = output.find("All:");
      ASSERT_NE(at, std::string::npos) << output;
      double ssim = std::stod(output.substr(at + 4));
      auto size = static_cast<double>(fs::file_size(request.output));
      EXPECT_LT(size, lastSize) << rawValue(preset);
      EXPECT_LT(ssim, lastSsim) << rawValue(preset);
      std::printf("%s %s: %.0f bytes, SSIM %.4f\n", codec == OutputCodec::h264 ? "h264" : "h265",
                  std::string(rawValue(preset)).c_str(), size, ssim);
      lastSize = size;
      lastSsim = ssim;
    }
  }
}

} // namespace
} // namespace kestrova::pipeline
