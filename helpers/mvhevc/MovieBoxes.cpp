#include "MovieBoxes.h"

#include "Language.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string_view>

namespace kestrova::mvhevc {
namespace {

constexpr std::uint32_t kVideoTrackId = 1;
constexpr std::uint32_t kFirstSoundTrackId = 2;
// tkhd flags
constexpr std::uint32_t kEnabled = 1;
constexpr std::uint32_t kInMovie = 2;
// The alternate group of the sound tracks: a player plays one of them.
constexpr std::uint32_t kSoundGroup = 1;

std::uint32_t macTime() {
  // QuickTime counts seconds from 1904-01-01.
  constexpr std::int64_t kFrom1904To1970 = 2082844800;
  const auto now =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  return static_cast<std::uint32_t>(now + kFrom1904To1970);
}

void handler(BoxWriter &b, std::string_view type, std::string_view name) {
  b.openFull("hdlr", 0, 0);
  b.fourcc("mhlr");
  b.fourcc(type);
  b.zeros(12);
  b.bytes(std::span(reinterpret_cast<const std::uint8_t *>(name.data()), name.size()));
  b.u8(0);
  b.close();
}

void dataInformation(BoxWriter &b) {
  b.open("dinf");
  b.openFull("dref", 0, 0);
  b.u32(1);
  b.openFull("url ", 0, 1); // media in this file
  b.close();
  b.close();
  b.close();
}

struct TrackHeader {
  std::uint32_t id = 0;
  std::uint64_t duration = 0;
  std::uint32_t flags = kEnabled | kInMovie;
  bool audio = false;
  int width = 0;
  int height = 0;
};

void trackHeader(BoxWriter &b, const TrackHeader &t) {
  const auto now = macTime();
  b.openFull("tkhd", 0, t.flags);
  b.u32(now);
  b.u32(now);
  b.u32(t.id);
  b.u32(0);
  b.u32(static_cast<std::uint32_t>(t.duration));
  b.zeros(8);
  b.u16(0);                         // layer
  b.u16(t.audio ? kSoundGroup : 0); // alternate group
  b.u16(t.audio ? 0x0100 : 0);      // volume
  b.u16(0);
  b.unityMatrix();
  b.u32(static_cast<std::uint32_t>(t.width) << 16);
  b.u32(static_cast<std::uint32_t>(t.height) << 16);
  b.close();
}

// `duration` in movie time, `mediaTime` in the track's own: where presentation starts.
void editList(BoxWriter &b, std::uint64_t duration, std::uint32_t mediaTime) {
  b.open("edts");
  b.openFull("elst", 0, 0);
  b.u32(1);
  b.u32(static_cast<std::uint32_t>(duration));
  b.u32(mediaTime);
  b.u32(0x00010000);
  b.close();
  b.close();
}

void mediaHeader(BoxWriter &b, std::uint32_t timescale, std::uint64_t duration, std::string_view language = "und") {
  const auto now = macTime();
  b.openFull("mdhd", 0, 0);
  b.u32(now);
  b.u32(now);
  b.u32(timescale);
  b.u32(static_cast<std::uint32_t>(duration));
  b.u16(packedLanguage(language));
  b.u16(0);
  b.close();
}

// The language as a BCP 47 tag too, which newer players prefer to the packed code.
void extendedLanguage(BoxWriter &b, std::string_view language) {
  if (language == "und") {
    return;
  }
  const auto tag = languageTag(language);
  b.openFull("elng", 0, 0);
  b.bytes(std::span(reinterpret_cast<const std::uint8_t *>(tag.data()), tag.size()));
  b.u8(0);
  b.close();
}

void chunkTables(BoxWriter &b, const std::vector<std::uint32_t> &sizes, const std::vector<std::uint64_t> &offsets) {
  b.openFull("stsc", 0, 0);
  b.u32(1);
  b.u32(1);
  b.u32(1); // one sample per chunk
  b.u32(1);
  b.close();
  b.openFull("stsz", 0, 0);
  b.u32(0);
  b.u32(static_cast<std::uint32_t>(sizes.size()));
  for (const auto size : sizes) {
    b.u32(size);
  }
  b.close();
  const bool wide = !offsets.empty() && offsets.back() > 0xFFFFFFFFULL;
  b.openFull(wide ? "co64" : "stco", 0, 0);
  b.u32(static_cast<std::uint32_t>(offsets.size()));
  for (const auto offset : offsets) {
    if (wide) {
      b.u64(offset);
    } else {
      b.u32(static_cast<std::uint32_t>(offset));
    }
  }
  b.close();
}

void parameterArray(BoxWriter &b, NalType type, const NalBytes &nal) {
  b.u8(0x80 | static_cast<std::uint8_t>(type)); // complete: every set is here
  b.u16(1);
  b.u16(static_cast<std::uint32_t>(nal.size()));
  b.bytes(nal);
}

void hevcConfiguration(BoxWriter &b, const VideoTrackSetup &v) {
  const auto &ptl = v.baseSps.profileTierLevel;
  b.open("hvcC");
  b.u8(1);
  b.bytes(ptl); // profile space, tier, profile, compatibility, constraints, level
  b.u16(0xF000);
  b.u8(0xFC);
  b.u8(0xFC | v.baseSps.chromaFormatIdc);
  b.u8(0xF8 | (v.baseSps.bitDepthLuma - 8));
  b.u8(0xF8 | (v.baseSps.bitDepthChroma - 8));
  b.u16(0);
  b.u8(0x0F); // one temporal layer, nested, 4-byte lengths
  b.u8(4);
  parameterArray(b, NalType::vps, v.vps);
  parameterArray(b, NalType::sps, v.baseSps0);
  parameterArray(b, NalType::pps, v.basePps);
  // Marked complete as Apple's own files mark it, though the same message also travels in-band.
  b.u8(0x80 | static_cast<std::uint8_t>(NalType::prefixSei));
  b.u16(1);
  b.u16(static_cast<std::uint32_t>(v.referenceDisplays.size()));
  b.bytes(v.referenceDisplays);
  b.close();

  b.open("lhvC");
  b.u8(1);
  b.u16(0xF000);
  b.u8(0xFC);
  b.u8(0xCF); // one temporal layer, nested, 4-byte lengths
  b.u8(2);
  parameterArray(b, NalType::sps, v.layerOneSps);
  parameterArray(b, NalType::pps, v.layerOnePps);
  b.close();
}

void fullBoxWithWord(BoxWriter &b, std::string_view type, std::uint32_t value, bool byte) {
  b.openFull(type, 0, 0);
  if (byte) {
    b.u8(value);
  } else {
    b.u32(value);
  }
  b.close();
}

void stereoExtension(BoxWriter &b, const StereoMetadata &s) {
  b.open("vexu");
  b.open("eyes");
  fullBoxWithWord(b, "stri", 0x03, true); // left and right eye views
  fullBoxWithWord(b, "hero", 1, true);    // the left eye is the primary one
  b.open("cams");
  fullBoxWithWord(b, "blin", s.baselineMicrometres, false);
  b.close();
  b.open("cmfy");
  fullBoxWithWord(b, "dadj", static_cast<std::uint32_t>(s.disparityAdjustment), false);
  b.close();
  b.close();
  b.close();
  b.open("hfov");
  b.u32(s.fieldOfViewMilliDegrees);
  b.close();
}

void pictureLayout(BoxWriter &b) {
  // The encodes are progressive 4:2:0 without a chroma location in their VUI, which means
  // chroma sited left of its luma pair; saying so here spares a player from guessing.
  b.open("fiel");
  b.u8(1); // one field: progressive
  b.u8(0);
  b.close();
  b.open("chrm");
  b.u8(0); // top and bottom field chroma location: left
  b.u8(0);
  b.close();
}

void videoSampleEntry(BoxWriter &b, const VideoTrackSetup &v) {
  b.openFull("stsd", 0, 0);
  b.u32(1);
  b.open("hvc1");
  b.zeros(6);
  b.u16(1); // data reference index
  b.zeros(16);
  b.u16(static_cast<std::uint32_t>(v.width));
  b.u16(static_cast<std::uint32_t>(v.height));
  b.u32(0x00480000);
  b.u32(0x00480000);
  b.u32(0);
  b.u16(1);
  constexpr std::string_view kCompressor = "HEVC";
  b.u8(kCompressor.size());
  b.bytes(std::span(reinterpret_cast<const std::uint8_t *>(kCompressor.data()), kCompressor.size()));
  b.zeros(31 - kCompressor.size());
  b.u16(0x0018);
  b.u16(0xFFFF);
  hevcConfiguration(b, v);
  pictureLayout(b);
  stereoExtension(b, v.stereo);
  b.close();
  b.close();
}

// The 'sync' sample group names the NAL unit type of every random-access picture, so that a
// reader learns the kind of each sync sample without parsing the media.
void syncSampleGroup(BoxWriter &b, const std::vector<VideoSampleInfo> &samples) {
  std::vector<std::uint8_t> types;
  std::vector<std::int64_t> groupOfSample;
  groupOfSample.reserve(samples.size());
  for (const auto &sample : samples) {
    if (!sample.sync) {
      groupOfSample.push_back(0);
      continue;
    }
    auto found = std::find(types.begin(), types.end(), sample.nalType);
    if (found == types.end()) {
      found = types.insert(types.end(), sample.nalType);
    }
    groupOfSample.push_back(found - types.begin() + 1);
  }
  if (types.empty()) {
    return;
  }
  b.openFull("sgpd", 1, 0);
  b.fourcc("sync");
  b.u32(1); // every entry is one byte
  b.u32(static_cast<std::uint32_t>(types.size()));
  for (const auto type : types) {
    b.u8(type & 0x3F);
  }
  b.close();
  const auto runs = runLengths(groupOfSample);
  b.openFull("sbgp", 0, 0);
  b.fourcc("sync");
  b.u32(static_cast<std::uint32_t>(runs.size()));
  for (const auto &[count, group] : runs) {
    b.u32(count);
    b.u32(static_cast<std::uint32_t>(group));
  }
  b.close();
}

void videoTimeTables(BoxWriter &b, const MovieDescription &m) {
  const auto &samples = *m.videoSamples;
  const auto delta = m.video->sampleDelta;
  b.openFull("stts", 0, 0);
  b.u32(1);
  b.u32(static_cast<std::uint32_t>(samples.size()));
  b.u32(delta);
  b.close();
  const auto offsets = compositionOffsets(samples);
  if (std::any_of(offsets.begin(), offsets.end(), [](auto offset) { return offset != 0; })) {
    const auto runs = runLengths(offsets);
    b.openFull("ctts", 1, 0); // signed offsets, as B-frames shown early need
    b.u32(static_cast<std::uint32_t>(runs.size()));
    for (const auto &[count, offset] : runs) {
      b.u32(count);
      b.u32(static_cast<std::uint32_t>(static_cast<std::int32_t>(offset * delta)));
    }
    b.close();
  }
  std::vector<std::uint32_t> sync;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (samples[i].sync) {
      sync.push_back(static_cast<std::uint32_t>(i + 1));
    }
  }
  if (sync.size() != samples.size()) {
    b.openFull("stss", 0, 0);
    b.u32(static_cast<std::uint32_t>(sync.size()));
    for (const auto index : sync) {
      b.u32(index);
    }
    b.close();
  }
  b.openFull("sdtp", 0, 0);
  for (const auto &sample : samples) {
    const std::uint32_t dependsOn = sample.independent ? 2 : 1;
    const std::uint32_t dependedOn = sample.disposable ? 2 : 0;
    b.u8((dependsOn << 4) | (dependedOn << 2));
  }
  b.close();
}

void videoTrack(BoxWriter &b, const MovieDescription &m, std::uint64_t duration, std::uint32_t chapterTrackId) {
  const auto &v = *m.video;
  b.open("trak");
  trackHeader(b, {kVideoTrackId, duration, kEnabled | kInMovie, false, v.width, v.height});
  if (chapterTrackId != 0) {
    b.open("tref");
    b.open("chap");
    b.u32(chapterTrackId);
    b.close();
    b.close();
  }
  editList(b, duration, 0); // the first picture shown has composition time 0
  b.open("mdia");
  mediaHeader(b, v.timescale, duration);
  handler(b, "vide", "Kestrova Video");
  b.open("minf");
  b.openFull("vmhd", 0, 1);
  b.zeros(8);
  b.close();
  dataInformation(b);
  b.open("stbl");
  videoSampleEntry(b, v);
  syncSampleGroup(b, *m.videoSamples);
  videoTimeTables(b, m);
  chunkTables(b, *m.videoSizes, *m.videoOffsets);
  b.close();
  b.close();
  b.close();
  b.close();
}

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

struct SoundTiming {
  std::uint64_t media = 0; ///< in the track's samples, priming included
  std::uint64_t movie = 0; ///< what is played, in movie time
};

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
  std::vector<std::int64_t> durations(s.durations->begin(), s.durations->end());
  const auto runs = runLengths(durations);
  b.openFull("stts", 0, 0);
  b.u32(static_cast<std::uint32_t>(runs.size()));
  for (const auto &[count, duration] : runs) {
    b.u32(count);
    b.u32(static_cast<std::uint32_t>(duration));
  }
  b.close();
  chunkTables(b, *s.sizes, *s.offsets);
  b.close();
  b.close();
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
  const auto runs = runLengths(durations);
  b.openFull("stts", 0, 0);
  b.u32(static_cast<std::uint32_t>(runs.size()));
  for (const auto &[count, duration] : runs) {
    b.u32(count);
    b.u32(static_cast<std::uint32_t>(duration));
  }
  b.close();
  chunkTables(b, *m.chapterSizes, *m.chapterOffsets);
  b.close();
  b.close();
  b.close();
  b.close();
}

} // namespace

std::vector<std::int64_t> compositionOffsets(const std::vector<VideoSampleInfo> &samples) {
  std::vector<std::int64_t> offsets;
  offsets.reserve(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    offsets.push_back(samples[i].presentationIndex - static_cast<std::int64_t>(i));
  }
  return offsets;
}

std::vector<std::pair<std::uint32_t, std::int64_t>> runLengths(const std::vector<std::int64_t> &values) {
  std::vector<std::pair<std::uint32_t, std::int64_t>> runs;
  for (const auto value : values) {
    if (!runs.empty() && runs.back().second == value) {
      ++runs.back().first;
    } else {
      runs.emplace_back(1, value);
    }
  }
  return runs;
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

std::vector<std::uint8_t> movieBox(const MovieDescription &m) {
  const auto &v = *m.video;
  const std::uint64_t duration = m.videoSamples->size() * std::uint64_t{v.sampleDelta};
  std::vector<SoundTiming> sound;
  std::uint64_t movieDuration = duration; // the longest track
  for (const auto &track : m.sound) {
    sound.push_back(soundTiming(track, v.timescale));
    movieDuration = std::max(movieDuration, sound.back().movie);
  }
  const bool chapters = m.chapters != nullptr && !m.chapters->empty();
  const auto chapterTrackId = chapters ? kFirstSoundTrackId + static_cast<std::uint32_t>(m.sound.size()) : 0;
  BoxWriter b;
  b.open("moov");
  const auto now = macTime();
  b.openFull("mvhd", 0, 0);
  b.u32(now);
  b.u32(now);
  b.u32(v.timescale);
  b.u32(static_cast<std::uint32_t>(movieDuration));
  b.u32(0x00010000); // rate 1.0
  b.u16(0x0100);     // volume 1.0
  b.zeros(10);
  b.unityMatrix();
  b.zeros(24);
  b.u32(kFirstSoundTrackId + static_cast<std::uint32_t>(m.sound.size()) + (chapters ? 1 : 0)); // next track id
  b.close();
  videoTrack(b, m, duration, chapterTrackId);
  for (std::size_t i = 0; i < m.sound.size(); ++i) {
    soundTrack(b, m.sound[i], kFirstSoundTrackId + static_cast<std::uint32_t>(i), i == 0, sound[i]);
  }
  if (chapters) {
    chapterTrack(b, m, chapterTrackId, movieDuration);
  }
  b.close();
  return b.data();
}

} // namespace kestrova::mvhevc
