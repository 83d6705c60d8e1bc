#include "MovieBoxes.h"

#include "SoundAndChapterTracks.h"
#include "TrackBoxes.h"

#include <algorithm>
#include <string_view>

namespace kestrova::mvhevc {
namespace {

constexpr std::uint32_t kVideoTrackId = 1;
constexpr std::uint32_t kFirstSoundTrackId = 2;

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

} // namespace

std::vector<std::int64_t> compositionOffsets(const std::vector<VideoSampleInfo> &samples) {
  std::vector<std::int64_t> offsets;
  offsets.reserve(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    offsets.push_back(samples[i].presentationIndex - static_cast<std::int64_t>(i));
  }
  return offsets;
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