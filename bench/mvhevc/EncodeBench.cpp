// mvhevc_encode_bench [VIEW_WIDTH VIEW_HEIGHT FRAMES PRESET]
// Encodes one generated side-by-side clip twice with the same libx265 settings: as two views
// (the converter's path: two encoder threads reading windows of the shared picture) and as one
// double-width picture. Prints both times, frames per second and their ratio.
#include "EncoderThread.h"
#include "ViewEncoder.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace kestrova::mvhevc;
using Clock = std::chrono::steady_clock;

std::vector<SharedFrame> makeClip(int width, int height, int frames) {
  std::vector<SharedFrame> clip;
  for (int f = 0; f < frames; ++f) {
    AVFrame *frame = av_frame_alloc();
    frame->format = 0; // AV_PIX_FMT_YUV420P
    frame->width = width;
    frame->height = height;
    av_frame_get_buffer(frame, 0);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        // Moving texture with some detail, so motion search has real work to do.
        frame->data[0][y * frame->linesize[0] + x] = static_cast<std::uint8_t>((x + 2 * f) * (y + f) / 7 + x / 3);
      }
    }
    for (int plane = 1; plane < 3; ++plane) {
      for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < width / 2; ++x) {
          frame->data[plane][y * frame->linesize[plane] + x] = static_cast<std::uint8_t>(128 + ((x + y + f) % 32));
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

double twoViews(const std::vector<SharedFrame> &clip, EncoderSettings settings) {
  const auto start = Clock::now();
  EncoderThread left(settings, 0);
  EncoderThread right(settings, settings.width);
  std::int64_t pts = 0;
  for (const auto &frame : clip) {
    left.push(frame, pts);
    right.push(frame, pts);
    ++pts;
    left.take();
    right.take();
  }
  left.finish();
  right.finish();
  left.join();
  right.join();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double onePicture(const std::vector<SharedFrame> &clip, EncoderSettings settings) {
  settings.width *= 2;
  const auto start = Clock::now();
  ViewEncoder encoder(settings);
  std::vector<CodedPicture> coded;
  std::int64_t pts = 0;
  for (const auto &frame : clip) {
    PlanarPicture picture;
    for (int plane = 0; plane < 3; ++plane) {
      picture.planes[plane] = frame->data[plane];
      picture.strides[plane] = frame->linesize[plane];
    }
    encoder.encode(picture, pts++, coded);
    coded.clear();
  }
  encoder.flush(coded);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char **argv) {
  const int viewWidth = argc > 1 ? std::stoi(argv[1]) : 1920;
  const int height = argc > 2 ? std::stoi(argv[2]) : 1080;
  const int frames = argc > 3 ? std::stoi(argv[3]) : 30;
  EncoderSettings settings;
  settings.width = viewWidth;
  settings.height = height;
  settings.frameRateNum = 24;
  settings.frameRateDen = 1;
  settings.crf = crfForQuality(0.85);
  settings.preset = argc > 4 ? argv[4] : "medium";
  settings.keyframeInterval = 48;
  const auto clip = makeClip(2 * viewWidth, height, frames);
  const double single = onePicture(clip, settings);
  const double layered = twoViews(clip, settings);
  std::printf("clip: %d frames, %dx%d per eye, preset %s, crf %.1f\n", frames, viewWidth, height,
              settings.preset.c_str(), settings.crf);
  std::printf("one %dx%d picture : %7.2f s  %6.2f fps\n", 2 * viewWidth, height, single, frames / single);
  std::printf("two views (MV-HEVC): %7.2f s  %6.2f fps\n", layered, frames / layered);
  std::printf("two-view time / one-picture time: %.3f (goal <= 1.1)\n", layered / single);
  return 0;
}
