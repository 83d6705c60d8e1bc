// mvhevc_encode_bench [--rounds N] [VIEW_WIDTH VIEW_HEIGHT FRAMES PRESET...]
// Encodes one generated stereo pair (one scene, the right eye seeing it 24 samples further left)
// both ways the converter can: x265's two-view encoder (layer 1 predicted from layer 0) and two
// single-view encodes joined into two layers, side by side in one run with the same settings.
// Prints wall time, CPU time, frames per second, bytes per layer and each view's PSNR, per preset.
// A third way is the two encodes as the converter ran them before it had the two-view encoder:
// the preset's own lookahead and B-frames and as many frame threads as libx265 picks.
// Wall time on a shared machine swings by 10-20 % from one run to the next, so each preset is
// encoded N times each way, the order rotating, and the median of the rounds' ratios is the
// figure.
#include "EncoderThread.h"
#include "LayerMerger.h"
#include "MultiviewEncoder.h"
#include "MultiviewPackager.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <x265.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace kestrova::mvhevc;
using Clock = std::chrono::steady_clock;

constexpr int kDisparity = 24;

// Small pseudo-random numbers, the same every run.
class Noise {
public:
  int next(int range) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<int>((state_ >> 33) % static_cast<std::uint64_t>(range));
  }

private:
  std::uint64_t state_ = 42;
};

// A scene with texture at several scales and fine random detail, panning slowly; each eye is a
// window into it and adds its own sensor noise.
std::vector<SharedFrame> makeStereoClip(int viewWidth, int height, int frames) {
  const int sceneWidth = viewWidth + kDisparity;
  const int panRoom = frames * 2 + 2;
  Noise noise;
  std::vector<std::uint8_t> detail(static_cast<std::size_t>(sceneWidth + panRoom) * height);
  for (auto &d : detail) {
    d = static_cast<std::uint8_t>(noise.next(40));
  }
  std::vector<std::uint8_t> scene(static_cast<std::size_t>(sceneWidth) * height);
  std::vector<SharedFrame> clip;
  for (int f = 0; f < frames; ++f) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < sceneWidth; ++x) {
        const double u = x + 1.5 * f;
        const double v = y + 0.5 * f;
        const double value = 108 + 50 * std::sin(u / 37.0) * std::cos(v / 23.0) + 20 * std::sin((u + v) / 7.0) +
                             detail[static_cast<std::size_t>(y) * (sceneWidth + panRoom) + x + 2 * f];
        scene[static_cast<std::size_t>(y) * sceneWidth + x] = static_cast<std::uint8_t>(std::clamp(value, 0.0, 255.0));
      }
    }
    AVFrame *frame = av_frame_alloc();
    frame->format = 0; // AV_PIX_FMT_YUV420P
    frame->width = 2 * viewWidth;
    frame->height = height;
    av_frame_get_buffer(frame, 0);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < viewWidth; ++x) {
        const auto row = static_cast<std::size_t>(y) * sceneWidth;
        const auto grain = [&noise](std::uint8_t value) {
          return static_cast<std::uint8_t>(std::clamp(value + noise.next(5) - 2, 0, 255));
        };
        frame->data[0][y * frame->linesize[0] + x] = grain(scene[row + kDisparity + x]);
        frame->data[0][y * frame->linesize[0] + viewWidth + x] = grain(scene[row + x]);
      }
    }
    for (int plane = 1; plane < 3; ++plane) {
      for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < viewWidth; ++x) {
          frame->data[plane][y * frame->linesize[plane] + x] =
              static_cast<std::uint8_t>(128 + 20 * std::sin((x % (viewWidth / 2) + plane * 9) / 11.0));
        }
      }
    }
    clip.emplace_back(frame, [](const AVFrame *p) {
      auto *owned = const_cast<AVFrame *>(p);
      av_frame_free(&owned);
    });
  }
  return clip;
}

struct Result {
  double seconds = 0;
  double cpuSeconds = 0;
  std::uint64_t bytes[2] = {};
  double squaredError[2] = {};
  double psnr[2] = {};
  int pictures = 0;
};

// User and system time of all the process's threads so far.
double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Adds a sample's bytes per layer and the squared luma error of each view's reconstruction.
void count(Result &r, const MergedAccessUnit &unit, const std::vector<SharedFrame> &clip, std::int64_t pts,
           const std::vector<const std::vector<std::uint8_t> *> &recon, int viewWidth) {
  for (const auto &nal : unit.nals) {
    if (isSlice(nalTypeOf(nal))) {
      r.bytes[layerIdOf(nal) == 0 ? 0 : 1] += nal.size();
    }
  }
  const AVFrame &source = *clip.at(static_cast<std::size_t>(pts));
  for (std::size_t view = 0; view < 2; ++view) {
    const auto &luma = *recon.at(view);
    for (int y = 0; y < source.height; ++y) {
      for (int x = 0; x < viewWidth; ++x) {
        const int a = source.data[0][y * source.linesize[0] + static_cast<int>(view) * viewWidth + x];
        const int b = luma[static_cast<std::size_t>(y) * static_cast<std::size_t>(viewWidth) + x];
        r.squaredError[view] += (a - b) * (a - b);
      }
    }
  }
  ++r.pictures;
}

void finish(Result &r, int viewWidth, int height) {
  for (int view = 0; view < 2; ++view) {
    const double mse = r.squaredError[view] / (static_cast<double>(viewWidth) * height * std::max(1, r.pictures));
    r.psnr[view] = mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99.99;
  }
}

Result twoEncodes(const std::vector<SharedFrame> &clip, const EncoderSettings &settings) {
  Result r;
  const auto start = Clock::now();
  const auto cpuStart = cpuSeconds();
  LayerMerger merger;
  std::vector<CodedPicture> left, right;
  {
    EncoderThread leftThread(singleViewEncoder(settings, 0));
    EncoderThread rightThread(singleViewEncoder(settings, settings.width));
    std::int64_t pts = 0;
    const auto drain = [&] {
      for (auto &c : leftThread.take()) {
        left.push_back(std::move(c));
      }
      for (auto &c : rightThread.take()) {
        right.push_back(std::move(c));
      }
    };
    for (const auto &frame : clip) {
      leftThread.push(frame, pts);
      rightThread.push(frame, pts);
      ++pts;
      drain();
    }
    leftThread.finish();
    rightThread.finish();
    leftThread.join();
    rightThread.join();
    drain();
  }
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.cpuSeconds = cpuSeconds() - cpuStart;
  for (std::size_t i = 0; i < left.size() && i < right.size(); ++i) {
    const auto unit = merger.merge(left[i], right[i]);
    count(r, unit, clip, left[i].pts, {&left[i].reconstructedLuma.at(0), &right[i].reconstructedLuma.at(0)},
          settings.width);
  }
  finish(r, settings.width, settings.height);
  return r;
}

Result twoViewEncoder(const std::vector<SharedFrame> &clip, const EncoderSettings &settings) {
  Result r;
  const auto start = Clock::now();
  const auto cpuStart = cpuSeconds();
  MultiviewEncoder encoder(settings);
  const auto headers = encoder.headers();
  const MultiviewPackager packager(headers);
  std::vector<CodedPicture> coded;
  {
    EncoderThread thread(kestrova::mvhevc::twoViewEncoder(encoder, settings.width));
    std::int64_t pts = 0;
    for (const auto &frame : clip) {
      thread.push(frame, pts++);
      for (auto &c : thread.take()) {
        coded.push_back(std::move(c));
      }
    }
    thread.finish();
    thread.join();
    for (auto &c : thread.take()) {
      coded.push_back(std::move(c));
    }
  }
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.cpuSeconds = cpuSeconds() - cpuStart;
  for (const auto &picture : coded) {
    count(r, packager.package(picture), clip, picture.pts,
          {&picture.reconstructedLuma.at(0), &picture.reconstructedLuma.at(1)}, settings.width);
  }
  finish(r, settings.width, settings.height);
  return r;
}

void print(const char *name, const Result &r) {
  std::printf("  %-16s %7.2f s (CPU %7.2f s) %6.2f fps  layer0 %9llu B  layer1 %9llu B (%.2fx)  total %9llu B  "
              "luma PSNR L %.2f R %.2f dB\n",
              name, r.seconds, r.cpuSeconds, r.pictures / r.seconds, static_cast<unsigned long long>(r.bytes[0]),
              static_cast<unsigned long long>(r.bytes[1]), static_cast<double>(r.bytes[1]) / r.bytes[0],
              static_cast<unsigned long long>(r.bytes[0] + r.bytes[1]), r.psnr[0], r.psnr[1]);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const auto n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The settings of the two-encode path before the two-view encoder: the preset's lookahead,
// B-frames and frame threads.
EncoderSettings asBefore(EncoderSettings settings) {
  x265_param *preset = x265_param_alloc();
  x265_param_default_preset(preset, settings.preset.c_str(), nullptr);
  settings.x265Options = {{"rc-lookahead", std::to_string(preset->lookaheadDepth)},
                          {"bframes", std::to_string(preset->bframes)},
                          {"frame-threads", "0"}};
  x265_param_free(preset);
  return settings;
}

// Encodes `clip` each way `rounds` times and prints every round and the medians.
void compareWays(const std::vector<SharedFrame> &clip, const EncoderSettings &settings, int rounds) {
  const auto before = asBefore(settings);
  Result apart, layered, older;
  std::vector<double> wall, cpu, wallBefore;
  const std::function<void()> ways[] = {[&] { apart = twoEncodes(clip, settings); },
                                        [&] { layered = twoViewEncoder(clip, settings); },
                                        [&] { older = twoEncodes(clip, before); }};
  for (int round = 0; round < rounds; ++round) {
    // Rotate which way goes first, so that none always meets the warmer (or busier) machine.
    for (int i = 0; i < 3; ++i) {
      ways[(round + i) % 3]();
    }
    print("two encodes", apart);
    print("two-view encoder", layered);
    print("as before", older);
    wall.push_back(layered.seconds / apart.seconds);
    cpu.push_back(layered.cpuSeconds / apart.cpuSeconds);
    wallBefore.push_back(layered.seconds / older.seconds);
    std::printf("  round %d: two-view / two encodes: time %.3f, CPU time %.3f; two-view / as before: time %.3f\n",
                round + 1, wall.back(), cpu.back(), wallBefore.back());
  }
  std::printf("  two-view / two encodes: time %.3f (median of %d rounds; goal <= 1.0), CPU time %.3f, bytes %.3f "
              "(goal <= 0.8), PSNR difference L %+.2f R %+.2f dB (comparable within 0.3)\n",
              median(wall), rounds, median(cpu),
              static_cast<double>(layered.bytes[0] + layered.bytes[1]) / (apart.bytes[0] + apart.bytes[1]),
              layered.psnr[0] - apart.psnr[0], layered.psnr[1] - apart.psnr[1]);
  std::printf("  two-view / two encodes as before: time %.3f (median), bytes %.3f, PSNR difference L %+.2f R %+.2f "
              "dB\n",
              median(wallBefore),
              static_cast<double>(layered.bytes[0] + layered.bytes[1]) / (older.bytes[0] + older.bytes[1]),
              layered.psnr[0] - older.psnr[0], layered.psnr[1] - older.psnr[1]);
}

} // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  int rounds = 3;
  if (args.size() >= 2 && args[0] == "--rounds") {
    rounds = std::max(1, std::stoi(args[1]));
    args.erase(args.begin(), args.begin() + 2);
  }
  const int viewWidth = args.size() > 0 ? std::stoi(args[0]) : 1920;
  const int height = args.size() > 1 ? std::stoi(args[1]) : 1080;
  const int frames = args.size() > 2 ? std::stoi(args[2]) : 48;
  std::vector<std::string> presets(args.size() > 3 ? args.begin() + 3 : args.end(), args.end());
  if (presets.empty()) {
    presets = {"medium"};
  }
  EncoderSettings settings;
  settings.width = viewWidth;
  settings.height = height;
  settings.frameRateNum = 24;
  settings.frameRateDen = 1;
  settings.crf = crfForQuality(0.85);
  settings.keyframeInterval = 48;
  settings.keepReconstruction = true;
  const auto clip = makeStereoClip(viewWidth, height, frames);
  std::printf("clip: %d frames, %dx%d per eye, right eye shifted %d samples, crf %.1f, %d rounds\n", frames, viewWidth,
              height, kDisparity, settings.crf, rounds);
  for (const auto &preset : presets) {
    settings.preset = preset;
    std::printf("preset %s\n", preset.c_str());
    if (!kMultiviewEncoder) {
      print("two encodes", twoEncodes(clip, settings));
      std::printf("  (this build's libx265 has no two-view encoder)\n");
      continue;
    }
    compareWays(clip, settings, rounds);
  }
  return 0;
}
