#include "TrackBoxes.h"

#include "Language.h"

#include <chrono>

namespace kestrova::mvhevc {

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

void mediaHeader(BoxWriter &b, std::uint32_t timescale, std::uint64_t duration, std::string_view language) {
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

void timeToSample(BoxWriter &b, const std::vector<std::int64_t> &durations) {
  const auto runs = runLengths(durations);
  b.openFull("stts", 0, 0);
  b.u32(static_cast<std::uint32_t>(runs.size()));
  for (const auto &[count, duration] : runs) {
    b.u32(count);
    b.u32(static_cast<std::uint32_t>(duration));
  }
  b.close();
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

} // namespace kestrova::mvhevc
