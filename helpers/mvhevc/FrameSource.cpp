#include "FrameSource.h"
#include "Language.h"
#include "LibavSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cmath>

namespace kestrova::mvhevc {
namespace {

// The stream's frame rate (30 per second when it gives none) and, where the file tells, how many
// pictures it has.
void readRate(VideoInfo &video, const AVFormatContext &format, const AVStream &stream) {
  AVRational rate = stream.avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) {
    rate = stream.r_frame_rate;
  }
  if (rate.num <= 0 || rate.den <= 0) {
    rate = AVRational{30, 1};
  }
  video.frameRateNum = rate.num;
  video.frameRateDen = rate.den;
  video.expectedFrames = stream.nb_frames;
  if (video.expectedFrames <= 0 && format.duration > 0) {
    video.expectedFrames =
        static_cast<std::int64_t>(std::llround(static_cast<double>(format.duration) / AV_TIME_BASE * av_q2d(rate)));
  }
}

} // namespace

struct FrameSource::State {
  AVFormatContext *format = nullptr;
  AVCodecContext *decoder = nullptr;
  SwsContext *scaler = nullptr;
  SwsContext *eyeScaler = nullptr;
  AVPacket *packet = av_packet_alloc();
  FramePtr decoded{av_frame_alloc()};
  int videoIndex = -1;
  int audioIndex = -1;
  AVRational audioTimeBase{1, 1};
  int audioSampleRate = 0;
  int audioFrameSize = 1024;
  bool draining = false;
  bool finished = false;

  ~State() {
    sws_freeContext(scaler);
    sws_freeContext(eyeScaler);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    av_packet_free(&packet);
  }
};

FrameSource::FrameSource(const std::string &path, const PackedLayout &layout)
    : state_(std::make_unique<State>()), layout_(layout) {
  auto &s = *state_;
  av_log_set_level(AV_LOG_ERROR);
  if (const int rc = avformat_open_input(&s.format, path.c_str(), nullptr, nullptr); rc < 0) {
    throw InputError("cannot open input " + path + ": " + libavErrorText(rc));
  }
  if (const int rc = avformat_find_stream_info(s.format, nullptr); rc < 0) {
    throw InputError("cannot read the streams of " + path + ": " + libavErrorText(rc));
  }
  const AVCodec *codec = nullptr;
  s.videoIndex = av_find_best_stream(s.format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (s.videoIndex < 0 || codec == nullptr) {
    throw InputError("no decodable video stream in " + path);
  }
  const auto *stream = s.format->streams[s.videoIndex];
  s.decoder = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(s.decoder, stream->codecpar);
  // One decoding thread: frame threading keeps a copy of the decoder state and its pictures per
  // thread (over 100 MB for two 1080p views), and decoding is far faster than the encode.
  s.decoder->thread_count = 1;
  if (const int rc = avcodec_open2(s.decoder, codec, nullptr); rc < 0) {
    throw InputError("cannot open the video decoder: " + libavErrorText(rc));
  }
  video_.width = s.decoder->width;
  video_.height = s.decoder->height;
  if (video_.width <= 0 || video_.height <= 0) {
    throw InputError("the video stream has no picture size");
  }
  const bool topAndBottom = layout_.packing == PackedLayout::Packing::topAndBottom;
  const int across = topAndBottom ? video_.height : video_.width;
  const int along = topAndBottom ? video_.width : video_.height;
  if (across % 4 != 0 || along % 2 != 0) {
    throw InputError("a " + std::to_string(video_.width) + "x" + std::to_string(video_.height) +
                     " picture does not split into two 4:2:0 halves " +
                     (topAndBottom ? "one above the other; the height must be a multiple of 4 and the width even"
                                   : "side by side; the width must be a multiple of 4 and the height even"));
  }
  decodedWidth_ = video_.width;
  decodedHeight_ = video_.height;
  // The encoders take one picture two eyes wide.
  if (topAndBottom) {
    video_.width *= 2;
    video_.height /= 2;
  }
  if (layout_.halfSize) {
    (topAndBottom ? video_.height : video_.width) *= 2;
  }
  readRate(video_, *s.format, *stream);
  takeAudio();
}

void FrameSource::takeAudio() {
  auto &s = *state_;
  s.audioIndex = av_find_best_stream(s.format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (s.audioIndex >= 0) {
    const auto *par = s.format->streams[s.audioIndex]->codecpar;
    if (par->codec_id == AV_CODEC_ID_AAC && par->extradata_size > 0 && par->sample_rate > 0) {
      AudioInfo info;
      info.sampleRate = par->sample_rate;
      info.channels = par->ch_layout.nb_channels;
      info.bitRate = par->bit_rate;
      info.decoderConfig.assign(par->extradata, par->extradata + par->extradata_size);
      if (const auto *tag = av_dict_get(s.format->streams[s.audioIndex]->metadata, "language", nullptr, 0)) {
        info.language = isoLanguage(tag->value);
      }
      audio_ = std::move(info);
      s.audioTimeBase = s.format->streams[s.audioIndex]->time_base;
      s.audioSampleRate = par->sample_rate;
      s.audioFrameSize = par->frame_size > 0 ? par->frame_size : 1024;
    } else {
      skippedAudioCodec_ = avcodec_get_name(par->codec_id);
      s.audioIndex = -1;
    }
  }
  for (unsigned i = 0; i < s.format->nb_streams; ++i) {
    if (static_cast<int>(i) != s.videoIndex && static_cast<int>(i) != s.audioIndex) {
      s.format->streams[i]->discard = AVDISCARD_ALL;
    }
  }
}

FrameSource::~FrameSource() = default;

namespace {

// Brings a decoded picture to 8-bit 4:2:0, the form both encoders take.
SharedFrame toPlanar420(AVFrame *decoded, SwsContext *&scaler) {
  const auto format = static_cast<AVPixelFormat>(decoded->format);
  if (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P) {
    AVFrame *copy = av_frame_clone(decoded);
    return SharedFrame(copy, [](const AVFrame *frame) {
      auto *owned = const_cast<AVFrame *>(frame);
      av_frame_free(&owned);
    });
  }
  scaler = sws_getCachedContext(scaler, decoded->width, decoded->height, format, decoded->width, decoded->height,
                                AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (scaler == nullptr) {
    throw InputError("cannot convert the input's pixel format to 4:2:0");
  }
  FramePtr converted(av_frame_alloc());
  converted->format = AV_PIX_FMT_YUV420P;
  converted->width = decoded->width;
  converted->height = decoded->height;
  if (av_frame_get_buffer(converted.get(), 0) < 0) {
    throw InputError("out of memory for a converted picture");
  }
  sws_scale(scaler, decoded->data, decoded->linesize, 0, decoded->height, converted->data, converted->linesize);
  return SharedFrame(converted.release(), [](const AVFrame *frame) {
    auto *owned = const_cast<AVFrame *>(frame);
    av_frame_free(&owned);
  });
}

SharedFrame sharedFrame(FramePtr frame) {
  return SharedFrame(frame.release(), [](const AVFrame *owned) {
    auto *mutableFrame = const_cast<AVFrame *>(owned);
    av_frame_free(&mutableFrame);
  });
}

// Plane pointers of the 4:2:0 region that starts `x`, `y` (both even) luma samples into `frame`.
void regionOf(const AVFrame &frame, int x, int y, const std::uint8_t *planes[3]) {
  for (int p = 0; p < 3; ++p) {
    const int shift = p == 0 ? 0 : 1;
    planes[p] = frame.data[p] + static_cast<std::ptrdiff_t>(y >> shift) * frame.linesize[p] + (x >> shift);
  }
}

} // namespace

SharedFrame FrameSource::repack(SharedFrame picture) {
  const bool topAndBottom = layout_.packing == PackedLayout::Packing::topAndBottom;
  const int regionWidth = topAndBottom ? decodedWidth_ : decodedWidth_ / 2;
  const int regionHeight = topAndBottom ? decodedHeight_ / 2 : decodedHeight_;
  const int eyeWidth = video_.width / 2;
  const int eyeHeight = video_.height;
  const bool scaled = regionWidth != eyeWidth || regionHeight != eyeHeight;
  auto &scaler = state_->eyeScaler;
  if (scaled) {
    scaler = sws_getCachedContext(scaler, regionWidth, regionHeight, AV_PIX_FMT_YUV420P, eyeWidth, eyeHeight,
                                  AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (scaler == nullptr) {
      throw InputError("cannot scale the eyes to " + std::to_string(eyeWidth) + "x" + std::to_string(eyeHeight));
    }
  }
  FramePtr packed(av_frame_alloc());
  packed->format = AV_PIX_FMT_YUV420P;
  packed->width = video_.width;
  packed->height = video_.height;
  if (av_frame_get_buffer(packed.get(), 0) < 0) {
    throw InputError("out of memory for a side-by-side picture");
  }
  av_frame_copy_props(packed.get(), picture.get());
  for (int eye = 0; eye < 2; ++eye) {
    // The left eye lands in the left half; it is the first region unless the right eye comes first.
    const int region = (eye == 0) == layout_.rightFirst ? 1 : 0;
    const std::uint8_t *from[3];
    regionOf(*picture, topAndBottom ? 0 : region * regionWidth, topAndBottom ? region * regionHeight : 0, from);
    std::uint8_t *to[3];
    for (int p = 0; p < 3; ++p) {
      to[p] = packed->data[p] + (eye * eyeWidth >> (p == 0 ? 0 : 1));
    }
    if (scaled) {
      sws_scale(scaler, from, picture->linesize, 0, regionHeight, to, packed->linesize);
      continue;
    }
    for (int p = 0; p < 3; ++p) {
      const int shift = p == 0 ? 0 : 1;
      av_image_copy_plane(to[p], packed->linesize[p], from[p], picture->linesize[p], eyeWidth >> shift,
                          eyeHeight >> shift);
    }
  }
  return sharedFrame(std::move(packed));
}

SharedFrame FrameSource::next(const std::function<void(AudioPacket &&)> &audioSink) {
  auto &s = *state_;
  while (!s.finished) {
    const int got = avcodec_receive_frame(s.decoder, s.decoded.get());
    if (got == 0) {
      if (s.decoded->width != decodedWidth_ || s.decoded->height != decodedHeight_) {
        throw InputError("the picture size changes in the middle of the video");
      }
      auto frame = toPlanar420(s.decoded.get(), s.scaler);
      av_frame_unref(s.decoded.get());
      return layout_.isPlain() ? frame : repack(std::move(frame));
    }
    if (got == AVERROR_EOF) {
      s.finished = true;
      break;
    }
    if (got != AVERROR(EAGAIN)) {
      throw InputError("video decoding failed: " + libavErrorText(got));
    }
    if (s.draining) {
      s.finished = true;
      break;
    }
    const int read = av_read_frame(s.format, s.packet);
    if (read < 0) {
      s.draining = true;
      avcodec_send_packet(s.decoder, nullptr);
      continue;
    }
    if (s.packet->stream_index == s.videoIndex) {
      const int sent = avcodec_send_packet(s.decoder, s.packet);
      av_packet_unref(s.packet);
      if (sent < 0 && sent != AVERROR(EAGAIN)) {
        throw InputError("video decoding failed: " + libavErrorText(sent));
      }
    } else if (s.packet->stream_index == s.audioIndex) {
      AudioPacket packet;
      packet.data.assign(s.packet->data, s.packet->data + s.packet->size);
      if (s.packet->pts != AV_NOPTS_VALUE) {
        packet.pts = av_rescale_q(s.packet->pts, s.audioTimeBase, AVRational{1, s.audioSampleRate});
      }
      // Not the container's duration: Matroska's millisecond times make a 1024-sample frame 21 ms.
      packet.duration = s.audioFrameSize;
      av_packet_unref(s.packet);
      audioSink(std::move(packet));
    } else {
      av_packet_unref(s.packet);
    }
  }
  return nullptr;
}

} // namespace kestrova::mvhevc
