// mvhevc_encode_bench [VIEW_WIDTH VIEW_HEIGHT FRAMES PRESET...]
// Encodes one generated stereo pair (one scene, the right eye seeing it 24 samples further left)
// both ways the converter can: x265's two-view encoder (layer 1 predicted from layer 0) and two
// single-view encodes joined into two layers, side by side in one run with the same settings.
// Prints wall time, frames per second, bytes per layer and each view's PSNR, per preset.
#include "EncoderThread.h"
#include "LayerMerger.h"
#include "MultiviewEncoder.h"
#include "MultiviewPackager.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <chrono>
#include <cmath>
#include <cstdio>
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
  std::uint64_t bytes[2] = {};
  double squaredError[2] = {};
  double psnr[2] = {};
  int pictures = 0;
};

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
  for (const auto &picture : coded) {
    count(r, packager.package(picture), clip, picture.pts,
          {&picture.reconstructedLuma.at(0), &picture.reconstructedLuma.at(1)}, settings.width);
  }
  finish(r, settings.width, settings.height);
  return r;
}

void print(const char *name, const Result &r) {
  std::printf("  %-16s %7.2f s %6.2f fps  layer0 %9llu B  layer1 %9llu B (%.2fx)  total %9llu B  "
              "luma PSNR L %.2f R %.2f dB\n",
              name, r.seconds, r.pictures / r.seconds, static_cast<unsigned long long>(r.bytes[0]),
              static_cast<unsigned long long>(r.bytes[1]), static_cast<double>(r.bytes[1]) / r.bytes[0],
              static_cast<unsigned long long>(r.bytes[0] + r.bytes[1]), r.psnr[0], r.psnr[1]);
}

} // namespace

int main(int argc, char **argv) {
  const int viewWidth = argc > 1 ? std::stoi(argv[1]) : 1920;
  const int height = argc > 2 ? std::stoi(argv[2]) : 1080;
  const int frames = argc > 3 ? std::stoi(argv[3]) : 48;
  std::vector<std::string> presets;
  for (int i = 4; i < argc; ++i) {
    presets.emplace_back(argv[i]);
  }
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
  std::printf("clip: %d frames, %dx%d per eye, right eye shifted %d samples, crf %.1f\n", frames, viewWidth, height,
              kDisparity, settings.crf);
  for (const auto &preset : presets) {
    settings.preset = preset;
    std::printf("preset %s\n", preset.c_str());
    const auto apart = twoEncodes(clip, settings);
    print("two encodes", apart);
    if (!kMultiviewEncoder) {
      std::printf("  (this build's libx265 has no two-view encoder)\n");
      continue;
    }
    const auto layered = twoViewEncoder(clip, settings);
    print("two-view encoder", layered);
    std::printf("  two-view / two encodes: time %.3f (goal <= 1.0), bytes %.3f (goal <= 0.8), "
                "PSNR difference L %+.2f R %+.2f dB (comparable within 0.3)\n",
                layered.seconds / apart.seconds,
                static_cast<double>(layered.bytes[0] + layered.bytes[1]) / (apart.bytes[0] + apart.bytes[1]),
                layered.psnr[0] - apart.psnr[0], layered.psnr[1] - apart.psnr[1]);
  }
  return 0;
}
