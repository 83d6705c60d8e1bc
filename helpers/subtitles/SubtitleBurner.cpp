#include "SubtitleBurner.h"

#include <algorithm>
#include <cmath>

namespace kestrova::subtitles {
namespace {

std::uint8_t blend(std::uint8_t under, unsigned value, unsigned alpha) {
  return static_cast<std::uint8_t>((value * alpha + under * (255 - alpha) + 127) / 255);
}

void blendLuma(const PictureView &picture, const SubtitleBitmap &bitmap, int left) {
  const int top = std::max(bitmap.y, 0), bottom = std::min(bitmap.y + bitmap.height, picture.height);
  const int first = std::max(left, 0), end = std::min(left + bitmap.width, picture.width);
  for (int y = top; y < bottom; ++y) {
    std::uint8_t *row = picture.planes[0] + y * picture.strides[0];
    const auto source = static_cast<std::size_t>(y - bitmap.y) * static_cast<std::size_t>(bitmap.width);
    for (int x = first; x < end; ++x) {
      const auto at = source + static_cast<std::size_t>(x - left);
      if (bitmap.alpha[at] != 0) {
        row[x] = blend(row[x], bitmap.luma[at], bitmap.alpha[at]);
      }
    }
  }
}

// Each chroma sample covers two by two luma positions; it takes the bitmap's colour weighted by
// the opacity it has at each of them.
void blendChroma(const PictureView &picture, const SubtitleBitmap &bitmap, int left) {
  const int chromaWidth = (picture.width + 1) / 2, chromaHeight = (picture.height + 1) / 2;
  const int top = std::max(bitmap.y, 0) / 2, bottom = std::min((bitmap.y + bitmap.height + 1) / 2, chromaHeight);
  const int first = std::max(left, 0) / 2, end = std::min((left + bitmap.width + 1) / 2, chromaWidth);
  for (int cy = top; cy < bottom; ++cy) {
    std::uint8_t *cbRow = picture.planes[1] + cy * picture.strides[1];
    std::uint8_t *crRow = picture.planes[2] + cy * picture.strides[2];
    for (int cx = first; cx < end; ++cx) {
      unsigned alpha = 0, cb = 0, cr = 0;
      for (int j = 0; j < 2; ++j) {
        for (int i = 0; i < 2; ++i) {
          const int bx = 2 * cx + i - left, by = 2 * cy + j - bitmap.y;
          if (bx < 0 || by < 0 || bx >= bitmap.width || by >= bitmap.height) {
            continue;
          }
          const auto at = static_cast<std::size_t>(by) * static_cast<std::size_t>(bitmap.width) + bx;
          alpha += bitmap.alpha[at];
          cb += bitmap.alpha[at] * bitmap.cb[at];
          cr += bitmap.alpha[at] * bitmap.cr[at];
        }
      }
      if (alpha == 0) {
        continue;
      }
      const unsigned full = 4 * 255;
      cbRow[cx] = static_cast<std::uint8_t>((cb + cbRow[cx] * (full - alpha) + full / 2) / full);
      crRow[cx] = static_cast<std::uint8_t>((cr + crRow[cx] * (full - alpha) + full / 2) / full);
    }
  }
}

// The first display frame at or after `ticks`, allowing an eighth of a frame for the rounding
// of frame times to whole ticks.
std::size_t frameAt(std::int64_t ticks, int num, int den) {
  const double frames = static_cast<double>(ticks) * num / (90000.0 * den);
  return static_cast<std::size_t>(std::max(0.0, std::ceil(frames - 0.125)));
}

} // namespace

void composite(const PictureView &picture, const SubtitleCue &cue, int shift) {
  for (const auto &bitmap : cue.bitmaps) {
    blendLuma(picture, bitmap, bitmap.x + shift);
    blendChroma(picture, bitmap, bitmap.x + shift);
  }
}

SubtitleBurner::SubtitleBurner(const BurnInOptions &options, int viewWidth, std::ostream &log)
    : depth_(SubtitleDepth::plan(options.depth, log)), viewWidth_(viewWidth), firstFrame_(options.firstFrame) {
  std::vector<SubtitleCue> cues;
  try {
    cues = readPgsCues(options.subtitles);
  } catch (const SubtitleError &error) {
    log << options.depth.logPrefix << error.what() << "; no subtitles are burned in\n";
    return;
  }
  // A track demuxed with the stream's own timestamps starts where the video does; one that
  // tsMuxeR demuxed alone counts from the video's first picture.
  std::int64_t origin = 0;
  if (const auto pts = depth_.firstTablePts(); pts && !cues.empty() && cues.front().start >= std::int64_t(*pts)) {
    origin = static_cast<std::int64_t>(*pts);
  }
  for (auto &cue : cues) {
    const auto first = frameAt(cue.start - origin, options.frameRateNum, options.frameRateDen);
    const auto end = frameAt(cue.end - origin, options.frameRateNum, options.frameRateDen);
    if (end > first) {
      spans_.push_back({first, end, std::move(cue)});
    }
  }
  log << options.depth.logPrefix << spans_.size() << " cues from " << options.subtitles.string() << '\n';
}

const SubtitleCue *SubtitleBurner::cueAt(std::size_t frame) const {
  auto after = std::upper_bound(spans_.begin(), spans_.end(), frame,
                                [](std::size_t f, const Span &span) { return f < span.first; });
  if (after == spans_.begin() || frame >= std::prev(after)->end) {
    return nullptr;
  }
  return &std::prev(after)->cue;
}

int SubtitleBurner::shiftAt(std::size_t frame) const {
  return static_cast<int>(std::lround(depth_.at(frame) * static_cast<double>(viewWidth_) / 1920.0));
}

bool SubtitleBurner::burn(std::size_t pair, const PictureView &left, const PictureView &right) const {
  const std::size_t frame = firstFrame_ + pair;
  const SubtitleCue *cue = cueAt(frame);
  if (cue == nullptr) {
    return false;
  }
  const int shift = shiftAt(frame);
  composite(left, *cue, shift);
  composite(right, *cue, -shift);
  return true;
}

} // namespace kestrova::subtitles
