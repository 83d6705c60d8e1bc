// The frame-alternate pipeline against the same ffmpeg command typed by hand.
//
//   fa_pipeline_bench [SECONDS [WIDTH HEIGHT [ROUNDS]]]
//
// Generates one frame-alternate source (SECONDS long, default 30, at 48 frames
// per second of WIDTH x HEIGHT per eye, default 640x360, with AAC audio) in a
// scratch folder under the build tree. Then, ROUNDS times (default 3) in
// alternating order, converts it to a side-by-side .mkv with the engine
// (work directory, generated script, bash, log polling, clean-up) and with
// the one ffmpeg command that script runs, written out here by hand. Prints
// wall and CPU time of each run and the pipeline/hand ratio of the summed
// wall times. The scratch folder is removed at the end.

#include "pipeline/PipelineEngine.h"
#include "tools/Process.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fmt/format.h>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace kestrova;
using Clock = std::chrono::steady_clock;

struct Timing {
  double wall = 0;
  double cpu = 0; // user + system of the children that ended meanwhile
};

double childCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

template <class Work> Timing measure(Work work) {
  double cpu = childCpuSeconds();
  auto start = Clock::now();
  work();
  return {std::chrono::duration<double>(Clock::now() - start).count(), childCpuSeconds() - cpu};
}

bool runFfmpeg(const std::vector<std::string> &arguments) {
  tools::ProcessLaunch launch;
  launch.executable = "/usr/bin/ffmpeg";
  launch.arguments = arguments;
  launch.standardOutput = tools::StreamMode::discard;
  auto result = tools::runAndCollect(launch);
  if (!result.status.success())
    std::fprintf(stderr, "ffmpeg failed:\n%s\n", result.standardError.c_str());
  return result.status.success();
}

// What the generated script runs for preset medium, codec H.264, target SBS
// (libx264 standing in for VideoToolbox), typed as a user would.
std::vector<std::string> handTypedCommand(const fs::path &source, const fs::path &output) {
  return {"-y",
          "-i",
          source.string(),
          "-filter_complex",
          "[0:v]split[a][b];"
          "[a]select='not(mod(n\\,2))',setpts=N/FRAME_RATE/TB[left];"
          "[b]select='mod(n\\,2)',setpts=N/FRAME_RATE/TB[right];"
          "[left][right]hstack=inputs=2[sbs]",
          "-map",
          "[sbs]",
          "-map",
          "0:a:0?",
          "-c:v",
          "libx264",
          "-crf",
          "24",
          "-preset",
          "medium",
          "-sc_threshold",
          "0",
          "-metadata:s:v:0",
          "stereo_mode=left_right",
          "-c:a",
          "copy",
          "-shortest",
          "-movflags",
          "+faststart",
          output.string()};
}

} // namespace

int main(int argc, char **argv) {
  const int seconds = argc > 1 ? std::stoi(argv[1]) : 30;
  const int width = argc > 3 ? std::stoi(argv[2]) : 640;
  const int height = argc > 3 ? std::stoi(argv[3]) : 360;
  const int rounds = argc > 4 ? std::stoi(argv[4]) : 3;

  const fs::path scratch = KESTROVA_BENCH_SCRATCH;
  fs::remove_all(scratch);
  fs::create_directories(scratch / "tools");
  fs::create_symlink("/usr/bin/ffmpeg", scratch / "tools/ffmpeg");
  const fs::path source = scratch / "fa_source.mkv";
  std::printf("generating %d s of frame-alternate video, %dx%d per eye at 48 fps...\n", seconds, width, height);
  if (!runFfmpeg({"-v",
                  "error",
                  "-y",
                  "-f",
                  "lavfi",
                  "-i",
                  fmt::format("testsrc2=size={}x{}:rate=48:duration={}", width, height, seconds),
                  "-f",
                  "lavfi",
                  "-i",
                  fmt::format("sine=frequency=440:sample_rate=48000:duration={}", seconds),
                  "-c:v",
                  "libx264",
                  "-preset",
                  "veryfast",
                  "-crf",
                  "18",
                  "-c:a",
                  "aac",
                  source.string()}))
    return 1;

  pipeline::PipelineEngine engine(
      tools::ToolLocator(tools::BundlePaths{"", "/nonexistent", ""}, {}, {(scratch / "tools").string() + "/"}));
  SourceFileInfo info;
  info.url = source;
  info.videoWidth = width;
  info.videoHeight = height;
  info.frameRateNum = 48;
  info.frameRateDen = 1;
  info.duration = seconds;
  info.hasMVCStream = true;
  info.stereoMode = Stereo3DMode::frameAlternate(false);

  std::vector<Timing> viaPipeline, byHand;
  bool ok = true;
  for (int round = 0; round < rounds && ok; ++round) {
    auto runPipeline = [&] {
      fs::path out = scratch / "pipeline";
      fs::remove_all(out);
      fs::create_directories(out);
      ConversionJob job;
      job.sourceURL = source;
      job.outputDirectory = out;
      viaPipeline.push_back(measure([&] {
        engine.convert(
            job, info, [](ConversionStage, double) {}, nullptr);
      }));
    };
    auto runByHand = [&] {
      fs::path out = scratch / "hand";
      fs::remove_all(out);
      fs::create_directories(out);
      byHand.push_back(measure([&] { ok = runFfmpeg(handTypedCommand(source, out / "fa_source_SBS.mkv")); }));
    };
    // Alternating order, so that neither side always runs on a warmer cache.
    if (round % 2 == 0) {
      runPipeline();
      runByHand();
    } else {
      runByHand();
      runPipeline();
    }
    std::printf("round %d: pipeline %7.2f s wall %7.2f s cpu | by hand %7.2f s wall %7.2f s cpu\n", round + 1,
                viaPipeline.back().wall, viaPipeline.back().cpu, byHand.back().wall, byHand.back().cpu);
  }
  fs::remove_all(scratch);
  if (!ok)
    return 1;
  double pipelineWall = 0, handWall = 0, pipelineCpu = 0, handCpu = 0;
  for (int i = 0; i < rounds; ++i) {
    pipelineWall += viaPipeline[static_cast<std::size_t>(i)].wall;
    handWall += byHand[static_cast<std::size_t>(i)].wall;
    pipelineCpu += viaPipeline[static_cast<std::size_t>(i)].cpu;
    handCpu += byHand[static_cast<std::size_t>(i)].cpu;
  }
  std::printf("total: pipeline %.2f s wall %.2f s cpu | by hand %.2f s wall %.2f s cpu\n", pipelineWall, pipelineCpu,
              handWall, handCpu);
  std::printf("pipeline / by hand, wall time: %.3f (goal <= 1.05); cpu time: %.3f\n", pipelineWall / handWall,
              pipelineCpu / handCpu);
  return 0;
}
