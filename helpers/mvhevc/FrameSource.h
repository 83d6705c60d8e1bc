#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct AVFrame;

namespace kestrova::mvhevc {

/// Thrown when the input cannot be opened, has no usable video, or fails to decode.
class InputError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// The input's video as the converter sees it.
struct VideoInfo {
  int width = 0; ///< the whole side-by-side width handed to the encoders
  int height = 0;
  int frameRateNum = 0;
  int frameRateDen = 1;
  std::int64_t expectedFrames = 0; ///< from the container; 0 when unknown
};

/// An AAC sound track of the movie.
struct AudioInfo {
  int sampleRate = 0;
  int channels = 0;
  std::int64_t bitRate = 0;
  std::vector<std::uint8_t> decoderConfig; ///< AudioSpecificConfig
  std::string language = "und";            ///< ISO 639-2/T
};

/// One AAC access unit, timed in samples.
struct AudioPacket {
  std::size_t track = 0; ///< which of the movie's sound tracks, counted from 0
  std::vector<std::uint8_t> data;
  std::int64_t pts = 0; ///< negative for the encoder's priming, which is decoded but not played
  std::int64_t duration = 0;
};

/// A decoded picture in 8-bit 4:2:0, shared by the two encoder threads.
using SharedFrame = std::shared_ptr<const AVFrame>;

/// Where the converter's side-by-side pictures come from.
class PictureSource {
public:
  virtual ~PictureSource() = default;
  virtual const VideoInfo &video() const = 0;
  /// The next picture in presentation order, or null at the end. Sound that plays with the
  /// pictures so far goes to `audioSink` on the way.
  virtual SharedFrame next(const std::function<void(AudioPacket &&)> &audioSink) = 0;
};

/// How a file packs the two eyes into one picture.
struct PackedLayout {
  enum class Packing { sideBySide, topAndBottom };
  Packing packing = Packing::sideBySide;
  bool halfSize = false;   ///< each eye squeezed to half the width (side by side) or height
  bool rightFirst = false; ///< the left or top half is the right eye

  /// Full side by side, left eye first: the pictures go to the encoders as decoded.
  bool isPlain() const { return packing == Packing::sideBySide && !halfSize && !rightFirst; }
};

/// Demuxes and decodes a file of packed pictures with libavformat/libavcodec and hands them on
/// as full side-by-side pictures, left eye on the left: each eye cut out, and scaled back to
/// full size when the layout squeezes it (a 1920x1080 half side-by-side picture gives two
/// 1920x1080 eyes).
class FrameSource : public PictureSource {
public:
  /// Opens `path`. Throws InputError when it is missing, not a video, or not splittable into
  /// two 4:2:0 halves as `layout` says.
  explicit FrameSource(const std::string &path, const PackedLayout &layout = {});
  ~FrameSource() override;
  FrameSource(const FrameSource &) = delete;
  FrameSource &operator=(const FrameSource &) = delete;

  const VideoInfo &video() const override { return video_; }
  /// The file's first audio track when it is AAC, which comes with the pictures; else empty.
  const std::optional<AudioInfo> &audio() const { return audio_; }
  /// The codec name of a first audio track that is not copied because it is not AAC; empty when
  /// there is no such track.
  const std::string &skippedAudioCodec() const { return skippedAudioCodec_; }

  SharedFrame next(const std::function<void(AudioPacket &&)> &audioSink) override;

private:
  struct State;
  std::unique_ptr<State> state_;
  /// Cuts the two eyes out of a decoded 4:2:0 picture into one side-by-side picture.
  SharedFrame repack(SharedFrame picture);
  /// Takes the first audio track along when it is AAC (else names its codec), and leaves every
  /// stream but it and the pictures unread.
  void takeAudio();

  PackedLayout layout_;
  int decodedWidth_ = 0;
  int decodedHeight_ = 0;
  VideoInfo video_;
  std::optional<AudioInfo> audio_;
  std::string skippedAudioCodec_;
};

} // namespace kestrova::mvhevc
