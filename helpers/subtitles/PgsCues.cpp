#include "PgsCues.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

namespace kestrova::subtitles {
namespace {

struct InputCloser {
  void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
struct DecoderCloser {
  void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct PacketFree {
  void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct SubtitleFree {
  void operator()(AVSubtitle *subtitle) const { avsubtitle_free(subtitle); }
};

std::string averror(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

std::uint8_t clampByte(double value) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

// The decoder turns the track's video-range YCbCr palette into full-range RGB with the matrix of
// the canvas's size (BT.709 above 576 lines); this goes back the same way.
void toVideoColour(std::uint32_t argb, bool hd, std::uint8_t &y, std::uint8_t &cb, std::uint8_t &cr) {
  const double r = (argb >> 16 & 0xff) / 255.0, g = (argb >> 8 & 0xff) / 255.0, b = (argb & 0xff) / 255.0;
  const double kr = hd ? 0.2126 : 0.299, kb = hd ? 0.0722 : 0.114;
  const double luma = kr * r + (1 - kr - kb) * g + kb * b;
  y = clampByte(16 + 219 * luma);
  cb = clampByte(128 + 224 * (b - luma) / (2 * (1 - kb)));
  cr = clampByte(128 + 224 * (r - luma) / (2 * (1 - kr)));
}

SubtitleBitmap bitmapOf(const AVSubtitleRect &rect, bool hd) {
  SubtitleBitmap bitmap{rect.x, rect.y, rect.w, rect.h, {}, {}, {}, {}};
  const auto pixels = static_cast<std::size_t>(rect.w) * static_cast<std::size_t>(rect.h);
  bitmap.luma.resize(pixels);
  bitmap.cb.resize(pixels);
  bitmap.cr.resize(pixels);
  bitmap.alpha.resize(pixels);
  const auto *palette = reinterpret_cast<const std::uint32_t *>(rect.data[1]);
  for (int row = 0; row < rect.h; ++row) {
    for (int column = 0; column < rect.w; ++column) {
      const std::uint8_t index = rect.data[0][row * rect.linesize[0] + column];
      const std::uint32_t argb = index < rect.nb_colors ? palette[index] : 0;
      const auto at = static_cast<std::size_t>(row) * static_cast<std::size_t>(rect.w) + column;
      toVideoColour(argb, hd, bitmap.luma[at], bitmap.cb[at], bitmap.cr[at]);
      bitmap.alpha[at] = static_cast<std::uint8_t>(argb >> 24);
    }
  }
  return bitmap;
}

} // namespace

std::vector<SubtitleCue> readPgsCues(const std::filesystem::path &path, std::int64_t lastCueTicks) {
  const std::string where = path.string() + ": ";
  AVFormatContext *opened = nullptr;
  if (const int status = avformat_open_input(&opened, path.c_str(), av_find_input_format("sup"), nullptr); status < 0) {
    throw SubtitleError(where + "cannot open as a PG subtitle track: " + averror(status));
  }
  std::unique_ptr<AVFormatContext, InputCloser> input(opened);
  if (input->nb_streams != 1 || input->streams[0]->codecpar->codec_id != AV_CODEC_ID_HDMV_PGS_SUBTITLE) {
    throw SubtitleError(where + "not a PG subtitle track");
  }
  const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_HDMV_PGS_SUBTITLE);
  std::unique_ptr<AVCodecContext, DecoderCloser> decoder(codec != nullptr ? avcodec_alloc_context3(codec) : nullptr);
  if (!decoder || avcodec_open2(decoder.get(), codec, nullptr) < 0) {
    throw SubtitleError(where + "this ffmpeg has no PG subtitle decoder");
  }
  const AVRational timeBase = input->streams[0]->time_base;
  decoder->pkt_timebase = timeBase;
  std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
  std::vector<SubtitleCue> cues;
  std::optional<std::int64_t> compositionTime; // of the display set being read
  int decodeErrors = 0, displaySets = 0;
  std::string firstError;
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    const std::unique_ptr<AVPacket, decltype(&av_packet_unref)> unref(packet.get(), av_packet_unref);
    const std::int64_t ticks =
        packet->pts == AV_NOPTS_VALUE ? 0 : av_rescale_q(packet->pts, timeBase, AVRational{1, 90000});
    // A display set shows at its presentation composition segment's time; its later segments
    // carry their own decode times.
    if (packet->size > 0 && packet->data[0] == 0x16) {
      compositionTime = ticks;
    }
    AVSubtitle subtitle{};
    int got = 0;
    const int status = avcodec_decode_subtitle2(decoder.get(), &subtitle, &got, packet.get());
    if (status < 0) {
      if (decodeErrors++ == 0) {
        firstError = averror(status);
      }
      continue;
    }
    if (got == 0) {
      continue;
    }
    const std::unique_ptr<AVSubtitle, SubtitleFree> owned(&subtitle);
    ++displaySets;
    const std::int64_t shows = compositionTime.value_or(ticks);
    if (!cues.empty() && cues.back().end > shows) {
      cues.back().end = shows;
    }
    if (subtitle.num_rects == 0) {
      continue;
    }
    SubtitleCue cue{shows, shows + lastCueTicks, {}};
    for (unsigned i = 0; i < subtitle.num_rects; ++i) {
      const AVSubtitleRect &rect = *subtitle.rects[i];
      if (rect.type == SUBTITLE_BITMAP && rect.w > 0 && rect.h > 0 && rect.data[1] != nullptr) {
        cue.bitmaps.push_back(bitmapOf(rect, decoder->height > 576 || decoder->height <= 0));
      }
    }
    if (!cue.bitmaps.empty()) {
      cues.push_back(std::move(cue));
    }
  }
  if (displaySets == 0) {
    throw SubtitleError(where + "no PG display set could be decoded" +
                        (decodeErrors > 0 ? " (" + firstError + ")" : std::string()));
  }
  std::erase_if(cues, [](const SubtitleCue &cue) { return cue.end <= cue.start; });
  return cues;
}

} // namespace kestrova::subtitles
