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

  // The sound stream: the one asked for, else the file's first (as the other outputs of a
  // conversion take it; not libav's "best"); false when the file has none. Every other
  // stream is left unread.
  bool chooseStream(const std::string &path, std::optional<int> streamIndex) {
    const auto isAudio = [this](unsigned index) {
      return format->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    };
    if (streamIndex) {
      if (*streamIndex < 0 || static_cast<unsigned>(*streamIndex) >= format->nb_streams || !isAudio(*streamIndex)) {
        throw InputError("stream " + std::to_string(*streamIndex) + " of " + path + " is not an audio stream");
      }
      audioIndex = *streamIndex;
    } else {
      for (unsigned i = 0; i < format->nb_streams && audioIndex < 0; ++i) {
        audioIndex = isAudio(i) ? static_cast<int>(i) : -1;
      }
      if (audioIndex < 0) {
        return false;
      }
    }
    for (unsigned i = 0; i < format->nb_streams; ++i) {
      if (static_cast<int>(i) != audioIndex) {
        format->streams[i]->discard = AVDISCARD_ALL;
      }
    }
    return true;
  }

  // The sound's clock and where the pictures start on it.
  void readTiming(const std::string &path) {
    const auto *stream = format->streams[audioIndex];
    const auto *par = stream->codecpar;
    timeBase = stream->time_base;
    sampleRate = par->sample_rate;
    if (par->frame_size > 0) {
      frameSize = par->frame_size;
    }
    if (sampleRate <= 0) {
      throw InputError("the sound track of " + path + " has no sample rate");
    }
    videoStart = format->start_time != AV_NOPTS_VALUE
                     ? av_rescale_q(format->start_time, AVRational{1, AV_TIME_BASE}, timeBase)
                     : 0;
    if (const int video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0); video >= 0) {
      const auto *videoStream = format->streams[video];
      if (videoStream->start_time != AV_NOPTS_VALUE) {
        videoStart = av_rescale_q(videoStream->start_time, videoStream->time_base, timeBase);
      }
    }
  }

  // Opens the decoder, the AAC encoder and the resampler between them for sound that is not AAC
  // (`from` names its codec); the AAC track it makes.
  AudioInfo openConverter(const std::string &path, const std::string &from) {
    const auto *par = format->streams[audioIndex]->codecpar;
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    if (codec == nullptr) {
      throw InputError("no decoder for the " + from + " sound of " + path);
    }
    decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, par);
    decoder->pkt_timebase = timeBase;
    if (const int rc = avcodec_open2(decoder, codec, nullptr); rc < 0) {
      throw InputError("cannot open the " + from + " sound decoder: " + libavErrorText(rc));
    }
    const AVCodec *aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (aac == nullptr) {
      throw InputError("this libavcodec has no AAC encoder to convert the " + from + " sound");
    }
    encoder = avcodec_alloc_context3(aac);
    encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder->sample_rate = sampleRate;
    // The decoder's own layout where the encoder knows it; else the usual one for the count.
    av_channel_layout_default(&encoder->ch_layout, std::min(8, std::max(1, par->ch_layout.nb_channels)));
    encoder->bit_rate = aacBitRate(encoder->ch_layout.nb_channels);
    encoder->time_base = AVRational{1, sampleRate};
    encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (const int rc = avcodec_open2(encoder, aac, nullptr); rc < 0) {
      throw InputError("cannot open the AAC encoder for the " + from + " sound: " + libavErrorText(rc));
    }
    if (swr_alloc_set_opts2(&resampler, &encoder->ch_layout, encoder->sample_fmt, sampleRate, &decoder->ch_layout,
                            decoder->sample_fmt, decoder->sample_rate, 0, nullptr) < 0 ||
        swr_init(resampler) < 0) {
      throw InputError("cannot convert the " + from + " sound's samples for the AAC encoder");
    }
    fifo = av_audio_fifo_alloc(encoder->sample_fmt, encoder->ch_layout.nb_channels, encoder->frame_size);
    AudioInfo info;
    info.sampleRate = sampleRate;
    info.channels = encoder->ch_layout.nb_channels;
    info.bitRate = encoder->bit_rate;
    info.decoderConfig.assign(encoder->extradata, encoder->extradata + encoder->extradata_size);
    return info;
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
  if (!s.chooseStream(path, streamIndex)) {
    return;
  }
  if (const auto *tag = av_dict_get(s.format->streams[s.audioIndex]->metadata, "language", nullptr, 0)) {
    language_ = tag->value;
  }
  s.readTiming(path);
  const auto *par = s.format->streams[s.audioIndex]->codecpar;
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
  audio_ = s.openConverter(path, convertedFrom_);
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
