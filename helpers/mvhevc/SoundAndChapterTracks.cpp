#include "SoundAndChapterTracks.h"

#include "TrackBoxes.h"

#include <algorithm>
#include <cmath>

namespace kestrova::mvhevc {
namespace {

void descriptor(BoxWriter &b, std::uint8_t tag, std::size_t length) {
  b.u8(tag);
  b.u8(0x80);
  b.u8(0x80);
  b.u8(0x80);
  b.u8(static_cast<std::uint32_t>(length));
}

// The channelConfiguration of an AudioSpecificConfig; 0 (a program config element) when unreadable.
unsigned aacChannelConfiguration(const std::vector<std::uint8_t> &config) {
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    bits = (bits << 8) | (i < config.size() ? config[i] : 0);
  }
  int at = 64;
  const auto take = [&](int count) {
    at -= count;
    return static_cast<unsigned>((bits >> at) & ((1U << count) - 1));
  };
  if (take(5) == 31) { // audioObjectType escape
    take(6);
  }
  if (take(4) == 15) { // explicit sampling frequency
    take(24);
  }
  return config.size() >= 2 ? take(4) : 0;
}

// Where there are more than two channels, their order as Core Audio names it: the AAC channel
// configurations' own orders (centre first, LFE last).
void channelLayout(BoxWriter &b, const std::vector<std::uint8_t> &config) {
  constexpr std::uint32_t kTags[] = {
      0, 0, 0, (114U << 16) | 3, (116U << 16) | 4, (120U << 16) | 5, (124U << 16) | 6, (127U << 16) | 8};
  const auto configuration = aacChannelConfiguration(config);
  if (configuration >= std::size(kTags) || kTags[configuration] == 0) {
    return;
  }
  b.openFull("chan", 0, 0);
  b.u32(kTags[configuration]);
  b.u32(0); // no channel bitmap
  b.u32(0); // no channel descriptions
  b.close();
}

void audioSampleEntry(BoxWriter &b, const AudioInfo &a) {
  b.openFull("stsd", 0, 0);
  b.u32(1);
  b.open("mp4a");
  b.zeros(6);
  b.u16(1);
  b.zeros(8);
  b.u16(static_cast<std::uint32_t>(a.channels));
  b.u16(16);
  b.u32(0);
  b.u32(static_cast<std::uint32_t>(a.sampleRate) << 16);
  const auto config = a.decoderConfig.size();
  b.openFull("esds", 0, 0);
  descriptor(b, 0x03, 3 + 5 + 13 + 5 + config + 5 + 1);
  b.u16(0); // ES id
  b.u8(0);
  descriptor(b, 0x04, 13 + 5 + config);
  b.u8(0x40); // MPEG-4 audio
  b.u8(0x15); // audio stream
  b.u24(0);
  b.u32(static_cast<std::uint32_t>(a.bitRate));
  b.u32(static_cast<std::uint32_t>(a.bitRate));
  descriptor(b, 0x05, config);
  b.bytes(a.decoderConfig);
  descriptor(b, 0x06, 1);
  b.u8(0x02);
  b.close();
  channelLayout(b, a.decoderConfig);
  b.close();
  b.close();
}

// A QuickTime text sample description; chapter text is never drawn, so plain defaults serve.
void textSampleEntry(BoxWriter &b) {
  b.openFull("stsd", 0, 0);
  b.u32(1);
  b.open("text");
  b.zeros(6);
  b.u16(1);   // data reference index
  b.u32(0);   // display flags
  b.u32(0);   // justification: left
  b.zeros(6); // background colour
  b.zeros(8); // default text box
  b.zeros(8); // reserved
  b.u16(0);   // font number
  b.u16(0);   // font face
  b.u8(0);    // reserved
  b.u16(0);   // reserved
  b.zeros(6); // foreground colour
  b.u8(0);    // no font name
  b.close();
  b.close();
}

} // namespace

SoundTiming soundTiming(const SoundTrackDescription &s, std::uint32_t movieTimescale) {
  SoundTiming t;
  for (const auto d : *s.durations) {
    t.media += d;
  }
  const auto played = t.media - std::min<std::uint64_t>(t.media, static_cast<std::uint64_t>(s.priming));
  const auto rate = static_cast<std::uint64_t>(s.audio->sampleRate);
  t.movie = (played * movieTimescale + rate - 1) / rate;
  return t;
}

void soundTrack(BoxWriter &b, const SoundTrackDescription &s, std::uint32_t id, bool enabled,
                const SoundTiming &timing) {
  const auto &a = *s.audio;
  b.open("trak");
  trackHeader(b, {id, timing.movie, enabled ? kEnabled | kInMovie : kInMovie, true, 0, 0});
  // The encoder's priming samples are decoded but not played, as in the source.
  editList(b, timing.movie, static_cast<std::uint32_t>(s.priming));
  b.open("mdia");
  mediaHeader(b, static_cast<std::uint32_t>(a.sampleRate), timing.media, a.language);
  handler(b, "soun", "Kestrova Sound");
  extendedLanguage(b, a.language);
  b.open("minf");
  b.openFull("smhd", 0, 0);
  b.zeros(4);
  b.close();
  dataInformation(b);
  b.open("stbl");
  audioSampleEntry(b, a);
  timeToSample(b, std::vector<std::int64_t>(s.durations->begin(), s.durations->end()));
  chunkTables(b, *s.sizes, *s.offsets);
  b.close();
  b.close();
  b.close();
  b.close();
}

void chapterTrack(BoxWriter &b, const MovieDescription &m, std::uint32_t id, std::uint64_t movieDuration) {
  const auto &chapters = *m.chapters;
  const auto timescale = m.video->timescale;
  std::vector<std::uint64_t> starts;
  for (const auto &chapter : chapters) {
    starts.push_back(std::min<std::uint64_t>(movieDuration, std::llround(chapter.startSeconds * timescale)));
  }
  starts.push_back(movieDuration);
  starts.front() = 0; // players take the first chapter to open the movie
  b.open("trak");
  trackHeader(b, {id, movieDuration, kInMovie, false, 0, 0}); // chapter names are not shown as text
  editList(b, movieDuration, 0);
  b.open("mdia");
  mediaHeader(b, timescale, movieDuration);
  handler(b, "text", "Kestrova Chapters");
  b.open("minf");
  b.open("gmhd");
  b.openFull("gmin", 0, 0);
  b.u16(0x40); // graphics mode: copy
  b.u16(0x8000);
  b.u16(0x8000);
  b.u16(0x8000);
  b.u16(0); // balance
  b.u16(0);
  b.close();
  b.open("text");
  b.unityMatrix();
  b.close();
  b.close();
  dataInformation(b);
  b.open("stbl");
  textSampleEntry(b);
  std::vector<std::int64_t> durations;
  for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
    durations.push_back(static_cast<std::int64_t>(starts[i + 1] - starts[i]));
  }
  timeToSample(b, durations);
  chunkTables(b, *m.chapterSizes, *m.chapterOffsets);
  b.close();
  b.close();
  b.close();
  b.close();
}

std::vector<std::uint8_t> chapterSample(const std::string &title) {
  BoxWriter b;
  b.u16(static_cast<std::uint32_t>(std::min<std::size_t>(title.size(), 0xFFFF)));
  b.bytes(std::span(reinterpret_cast<const std::uint8_t *>(title.data()), std::min<std::size_t>(title.size(), 0xFFFF)));
  b.open("encd"); // the text's encoding: Unicode
  b.u32(0x00000100);
  b.close();
  return b.data();
}

} // namespace kestrova::mvhevc
