#pragma once

#include "PgsCues.h"
#include "SubtitleDepth.h"

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

namespace kestrova::subtitles {

/// What to burn in and how: the PG track, its depth, and the pictures' rate.
struct BurnInOptions {
  std::filesystem::path subtitles; ///< the .sup; empty: no burn-in
  DepthRequest depth;
  int frameRateNum = 0;
  int frameRateDen = 1;
  /// The display frame of the film the first pair is: a chunk's first picture; its cues and
  /// depths are the film's from there on.
  std::size_t firstFrame = 0;
};

/// One 8-bit 4:2:0 picture in memory: three planes with their row strides.
struct PictureView {
  std::uint8_t *planes[3] = {};
  std::ptrdiff_t strides[3] = {};
  int width = 0;
  int height = 0;
};

/// Blends `cue`'s bitmaps over `picture`, moved `shift` pixels to the right
/// (left when negative) and clipped to the picture. Chroma takes the mean of
/// the four luma positions it covers, so an odd shift moves the colour by
/// half a chroma sample rather than rounding to an even one.
void composite(const PictureView &picture, const SubtitleCue &cue, int shift);

/// A PG track burned into both views of each display frame at that frame's
/// depth: the left view's copy moves right by the shift, the right view's
/// left, the shift scaled from a 1920-wide picture to the view's width.
class SubtitleBurner {
public:
  /// Reads the track and the depth; what is missing or wrong goes to `log`,
  /// and a track that cannot be decoded leaves the pictures untouched.
  /// `frameRateNum` must be positive.
  SubtitleBurner(const BurnInOptions &options, int viewWidth, std::ostream &log);

  /// Burns the cue showing at pair `pair` (display frame firstFrame + `pair` of the film) into
  /// `left` and `right`; false, with nothing touched, when none shows.
  bool burn(std::size_t pair, const PictureView &left, const PictureView &right) const;

  /// The shift applied to the left view at `frame`, in the view's pixels.
  int shiftAt(std::size_t frame) const;
  /// The cue showing at display frame `frame`, or null.
  const SubtitleCue *cueAt(std::size_t frame) const;

private:
  struct Span {
    std::size_t first, end; // display frames [first, end)
    SubtitleCue cue;
  };
  std::vector<Span> spans_;
  SubtitleDepth depth_;
  int viewWidth_;
  std::size_t firstFrame_;
};

} // namespace kestrova::subtitles
