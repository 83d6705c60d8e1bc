#include "SoundSource.h"
#include "LibavSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>

namespace kestrova::mvhevc {
namespace {

// Enough for transparent stereo and 5.1 with the native encoder, which tops out near 64 kb/s
// per channel before it stops gaining.
std::int64_t aacBitRate(int channels) {
  return std::max<std::int64_t>(2, channels) * 96000;
}

} // namespace

struct SoundSource::State {
  AVFormatContext *format = nullptr;
  AVCodecContext *decoder = nullptr;
  AVCodecContext *encoder = nullptr;
  SwrContext *resampler = nullptr;
  AVAudioFifo *fifo = nullptr;
  AVPacket *packet = av_packet_alloc();
  FramePtr decoded{av_frame_alloc()};
  FramePtr converted{av_frame_alloc()};
  int audioIndex = -1;
  AVRational timeBase{1, 1};
  int sampleRate = 0;
  int frameSize = 1024;        ///< samples in every coded frame of a copied track
  std::int64_t videoStart = 0; ///< in the audio stream's time base
  bool offsetKnown = false;
  std::int64_t skip = 0; ///< converted samples still to drop before the pictures start
  std::int64_t fed = 0;  ///< samples handed to the encoder
  bool inputEnded = false;
  bool flushed = false;

  ~State() {
    av_audio_fifo_free(fifo);
    swr_free(&resampler);
    avcodec_free_context(&encoder);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    av_packet_free(&packet);
  }

  std::int64_t toSamples(std::int64_t ts) const { return av_rescale_q(ts, timeBase, AVRational{1, sampleRate}); }

  // Reads the next packet of the audio track; false at the end of the file.
  bool readAudioPacket() {
    while (av_read_frame(format, packet) >= 0) {
      if (packet->stream_index == audioIndex) {
        return true;
      }
      av_packet_unref(packet);
    }
    return false;
  }

  // Decodes what one packet (or the end) yields into the FIFO at the encoder's sample format.
  void decodeInto(bool end) {
    const int sent = avcodec_send_packet(decoder, end ? nullptr : packet);
    av_packet_unref(packet);
    if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA) {
      throw InputError("sound decoding failed: " + libavErrorText(sent));
    }
    while (avcodec_receive_frame(decoder, decoded.get()) == 0) {
      if (!offsetKnown) {
        offsetKnown = true;
        const auto start = decoded->pts != AV_NOPTS_VALUE ? toSamples(decoded->pts - videoStart) : 0;
        if (start < 0) {
          skip = -start;
        } else if (start > 0) {
          writeSilence(start);
        }
      }
      av_frame_unref(converted.get());
      converted->format = encoder->sample_fmt;
      converted->sample_rate = encoder->sample_rate;
      av_channel_layout_copy(&converted->ch_layout, &encoder->ch_layout);
      if (const int rc = swr_convert_frame(resampler, converted.get(), decoded.get()); rc < 0) {
        throw InputError("cannot convert the sound's samples: " + libavErrorText(rc));
      }
      av_frame_unref(decoded.get());
      push(converted->data, converted->nb_samples);
    }
  }

  void push(std::uint8_t **planes, int count) {
    if (av_audio_fifo_write(fifo, reinterpret_cast<void **>(planes), count) < count) {
      throw InputError("out of memory for sound samples");
    }
    const auto dropped = std::min<std::int64_t>(skip, av_audio_fifo_size(fifo));
    av_audio_fifo_drain(fifo, static_cast<int>(dropped));
    skip -= dropped;
  }

  void writeSilence(std::int64_t count) {
    FramePtr silence(av_frame_alloc());
    silence->format = encoder->sample_fmt;
    silence->nb_samples = static_cast<int>(std::min<std::int64_t>(count, sampleRate));
    av_channel_layout_copy(&silence->ch_layout, &encoder->ch_layout);
    if (av_frame_get_buffer(silence.get(), 0) < 0) {
      throw InputError("out of memory for sound samples");
    }
    av_samples_set_silence(silence->data, 0, silence->nb_samples, encoder->ch_layout.nb_channels, encoder->sample_fmt);
    for (; count > 0; count -= silence->nb_samples) {
      push(silence->data, static_cast<int>(std::min<std::int64_t>(count, silence->nb_samples)));
    }
  }

  // Hands the encoder one frame of samples, or the end; false when there is nothing to give yet.
  bool feedEncoder() {
    const int frameSize = encoder->frame_size;
    const int available = av_audio_fifo_size(fifo);
    if (available >= frameSize || (inputEnded && available > 0)) {
      FramePtr frame(av_frame_alloc());
      frame->format = encoder->sample_fmt;
      frame->nb_samples = std::min(frameSize, available);
      frame->sample_rate = encoder->sample_rate;
      av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
      if (av_frame_get_buffer(frame.get(), 0) < 0) {
        throw InputError("out of memory for sound samples");
      }
      av_audio_fifo_read(fifo, reinterpret_cast<void **>(frame->data), frame->nb_samples);
      frame->pts = fed;
      fed += frame->nb_samples;
      if (const int rc = avcodec_send_frame(encoder, frame.get()); rc < 0) {
        throw InputError("AAC encoding failed: " + libavErrorText(rc));
      }
      return true;
    }
    if (inputEnded && !flushed) {
      flushed = true;
      avcodec_send_frame(encoder, nullptr);
      return true;
    }
    return false;
  }
};

SoundSource::SoundSource(const std::string &path, std::optional<int> streamIndex) : state_(std::make_unique<State>()) {
  auto &s = *state_;
  // Probing a disc's streams makes libavcodec complain about the dependent view it cannot decode;
  // what concerns the sound is reported by the errors below.
  av_log_set_level(AV_LOG_FATAL);
  if (const int rc = avformat_open_input(&s.format, path.c_str(), nullptr, nullptr); rc < 0) {
    throw InputError("cannot open the sound source " + path + ": " + libavErrorText(rc));
  }
  if (const int rc = avformat_find_stream_info(s.format, nullptr); rc < 0) {
    throw InputError("cannot read the streams of " + path + ": " + libavErrorText(rc));
  }
  const auto isAudio = [&s](unsigned index) {
    return s.format->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
  };
  if (streamIndex) {
    if (*streamIndex < 0 || static_cast<unsigned>(*streamIndex) >= s.format->nb_streams || !isAudio(*streamIndex)) {
      throw InputError("stream " + std::to_string(*streamIndex) + " of " + path + " is not an audio stream");
    }
    s.audioIndex = *streamIndex;
  } else {
    // The first in the file, as the other outputs of a conversion take it; not libav's "best".
    for (unsigned i = 0; i < s.format->nb_streams && s.audioIndex < 0; ++i) {
      s.audioIndex = isAudio(i) ? static_cast<int>(i) : -1;
    }
    if (s.audioIndex < 0) {
      return;
    }
  }
  for (unsigned i = 0; i < s.format->nb_streams; ++i) {
    if (static_cast<int>(i) != s.audioIndex) {
      s.format->streams[i]->discard = AVDISCARD_ALL;
    }
  }
  if (const auto *tag = av_dict_get(s.format->streams[s.audioIndex]->metadata, "language", nullptr, 0)) {
    language_ = tag->value;
  }
  const AVCodec *decoder = avcodec_find_decoder(s.format->streams[s.audioIndex]->codecpar->codec_id);
  const auto *stream = s.format->streams[s.audioIndex];
  const auto *par = stream->codecpar;
  s.timeBase = stream->time_base;
  s.sampleRate = par->sample_rate;
  if (par->frame_size > 0) {
    s.frameSize = par->frame_size;
  }
  if (s.sampleRate <= 0) {
    throw InputError("the sound track of " + path + " has no sample rate");
  }
  std::int64_t videoStart = s.format->start_time != AV_NOPTS_VALUE
                                ? av_rescale_q(s.format->start_time, AVRational{1, AV_TIME_BASE}, s.timeBase)
                                : 0;
  if (const int video = av_find_best_stream(s.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0); video >= 0) {
    const auto *videoStream = s.format->streams[video];
    if (videoStream->start_time != AV_NOPTS_VALUE) {
      videoStart = av_rescale_q(videoStream->start_time, videoStream->time_base, s.timeBase);
    }
  }
  s.videoStart = videoStart;

  if (par->codec_id == AV_CODEC_ID_AAC && par->extradata_size > 0) {
    AudioInfo info;
    info.sampleRate = par->sample_rate;
    info.channels = par->ch_layout.nb_channels;
    info.bitRate = par->bit_rate;
    info.decoderConfig.assign(par->extradata, par->extradata + par->extradata_size);
    audio_ = std::move(info);
    return;
  }

  convertedFrom_ = avcodec_get_name(par->codec_id);
  if (decoder == nullptr) {
    throw InputError("no decoder for the " + convertedFrom_ + " sound of " + path);
  }
  s.decoder = avcodec_alloc_context3(decoder);
  avcodec_parameters_to_context(s.decoder, par);
  s.decoder->pkt_timebase = s.timeBase;
  if (const int rc = avcodec_open2(s.decoder, decoder, nullptr); rc < 0) {
    throw InputError("cannot open the " + convertedFrom_ + " sound decoder: " + libavErrorText(rc));
  }
  const AVCodec *aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (aac == nullptr) {
    throw InputError("this libavcodec has no AAC encoder to convert the " + convertedFrom_ + " sound");
  }
  s.encoder = avcodec_alloc_context3(aac);
  s.encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
  s.encoder->sample_rate = s.sampleRate;
  // The decoder's own layout where the encoder knows it; else the usual one for the count.
  av_channel_layout_default(&s.encoder->ch_layout, std::min(8, std::max(1, par->ch_layout.nb_channels)));
  s.encoder->bit_rate = aacBitRate(s.encoder->ch_layout.nb_channels);
  s.encoder->time_base = AVRational{1, s.sampleRate};
  s.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (const int rc = avcodec_open2(s.encoder, aac, nullptr); rc < 0) {
    throw InputError("cannot open the AAC encoder for the " + convertedFrom_ + " sound: " + libavErrorText(rc));
  }
  if (swr_alloc_set_opts2(&s.resampler, &s.encoder->ch_layout, s.encoder->sample_fmt, s.sampleRate,
                          &s.decoder->ch_layout, s.decoder->sample_fmt, s.decoder->sample_rate, 0, nullptr) < 0 ||
      swr_init(s.resampler) < 0) {
    throw InputError("cannot convert the " + convertedFrom_ + " sound's samples for the AAC encoder");
  }
  s.fifo = av_audio_fifo_alloc(s.encoder->sample_fmt, s.encoder->ch_layout.nb_channels, s.encoder->frame_size);
  AudioInfo info;
  info.sampleRate = s.sampleRate;
  info.channels = s.encoder->ch_layout.nb_channels;
  info.bitRate = s.encoder->bit_rate;
  info.decoderConfig.assign(s.encoder->extradata, s.encoder->extradata + s.encoder->extradata_size);
  audio_ = std::move(info);
}

SoundSource::~SoundSource() = default;

std::optional<AudioPacket> SoundSource::next() {
  auto &s = *state_;
  if (!audio_) {
    return std::nullopt;
  }
  if (s.encoder == nullptr) {
    while (s.readAudioPacket()) {
      AudioPacket packet;
      packet.data.assign(s.packet->data, s.packet->data + s.packet->size);
      packet.pts = s.packet->pts != AV_NOPTS_VALUE ? s.toSamples(s.packet->pts - s.videoStart) : 0;
      // Not the container's duration: Matroska's millisecond times make a 1024-sample frame 21 ms.
      packet.duration = s.frameSize;
      av_packet_unref(s.packet);
      return packet;
    }
    return std::nullopt;
  }
  for (;;) {
    AVPacket *coded = s.packet;
    const int got = avcodec_receive_packet(s.encoder, coded);
    if (got == 0) {
      AudioPacket packet;
      packet.data.assign(coded->data, coded->data + coded->size);
      packet.pts = coded->pts;
      packet.duration = coded->duration > 0 ? coded->duration : s.encoder->frame_size;
      av_packet_unref(coded);
      return packet;
    }
    if (got == AVERROR_EOF) {
      return std::nullopt;
    }
    if (got != AVERROR(EAGAIN)) {
      throw InputError("AAC encoding failed: " + libavErrorText(got));
    }
    if (s.feedEncoder()) {
      continue;
    }
    if (s.readAudioPacket()) {
      s.decodeInto(false);
    } else {
      s.decodeInto(true);
      s.inputEnded = true;
    }
  }
}

} // namespace kestrova::mvhevc
