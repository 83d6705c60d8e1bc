#include "disc/Playlist.h"

#include "core/Errors.h"

#include <algorithm>

namespace kestrova::disc {

namespace {

constexpr double kTicksPerSecond = 45000.0;

/// Big-endian fields of a byte range; reading past its end throws.
class Bytes {
public:
  explicit Bytes(std::string_view data) : data_(data) {}
  std::size_t size() const { return data_.size(); }
  std::uint32_t at(std::size_t offset, int width) const {
    if (offset + static_cast<std::size_t>(width) > data_.size())
      throw SourceError("the playlist is cut short");
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i)
      value = (value << 8) | static_cast<unsigned char>(data_[offset + static_cast<std::size_t>(i)]);
    return value;
  }
  std::string text(std::size_t offset, std::size_t length) const {
    if (offset + length > data_.size())
      throw SourceError("the playlist is cut short");
    return std::string(data_.substr(offset, length));
  }

private:
  std::string_view data_;
};

bool isAudioCoding(std::uint32_t type) {
  return type == 0x03 || type == 0x04 || (type >= 0x80 && type <= 0x86) || type == 0xA1 || type == 0xA2;
}

std::string languageOrUnknown(std::string code) {
  const bool letters = code.size() == 3 && std::all_of(code.begin(), code.end(), [](char c) {
                         return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
                       });
  return letters ? code : "und";
}

/// One stream entry and its attributes, starting at `offset`; returns the offset after them.
std::size_t readStream(const Bytes &bytes, std::size_t offset, PlaylistStream &stream, int &videoFormat,
                       int &frameRate) {
  const std::uint32_t entryLength = bytes.at(offset, 1);
  const std::uint32_t entryType = bytes.at(offset + 1, 1);
  const std::size_t pidAt = entryType == 1 ? 2 : entryType == 2 ? 4 : 3;
  stream.pid = static_cast<std::uint16_t>(bytes.at(offset + pidAt, 2));
  offset += 1 + entryLength;
  const std::uint32_t attributesLength = bytes.at(offset, 1);
  stream.codingType = static_cast<std::uint8_t>(bytes.at(offset + 1, 1));
  if (isAudioCoding(stream.codingType)) {
    stream.language = languageOrUnknown(bytes.text(offset + 3, 3));
  } else if (stream.codingType == 0x90 || stream.codingType == 0x91) {
    stream.language = languageOrUnknown(bytes.text(offset + 2, 3));
  } else if (stream.codingType == 0x92) {
    stream.language = languageOrUnknown(bytes.text(offset + 3, 3));
  } else {
    const std::uint32_t formatAndRate = bytes.at(offset + 2, 1);
    videoFormat = static_cast<int>(formatAndRate >> 4);
    frameRate = static_cast<int>(formatAndRate & 0x0F);
  }
  return offset + 1 + attributesLength;
}

struct StreamCounts {
  std::uint32_t video = 0, audio = 0, subtitles = 0, total = 0;
};

/// The stream table of the first play item: its audio and subtitle streams and the video format.
StreamCounts readStreamTable(const Bytes &bytes, std::size_t offset, Playlist &playlist) {
  StreamCounts counts;
  counts.video = bytes.at(offset + 4, 1);
  counts.audio = bytes.at(offset + 5, 1);
  counts.subtitles = bytes.at(offset + 6, 1);
  for (int i = 4; i < 11; ++i)
    counts.total += bytes.at(offset + static_cast<std::size_t>(i), 1);
  std::size_t at = offset + 16;
  for (std::uint32_t i = 0; i < counts.video + counts.audio + counts.subtitles; ++i) {
    PlaylistStream stream;
    int format = 0, rate = 0;
    at = readStream(bytes, at, stream, format, rate);
    if (i < counts.video) {
      if (i == 0) {
        playlist.videoFormat = format;
        playlist.frameRateCode = rate;
      }
    } else if (i < counts.video + counts.audio) {
      playlist.audio.push_back(stream);
    } else if (stream.codingType == 0x90) {
      playlist.subtitles.push_back(stream);
    }
  }
  return counts;
}

/// The subtitle offset sequences of the 3D stream table (of the first play item).
void readStereoStreamTable(const Bytes &bytes, std::size_t offset, const StreamCounts &counts, Playlist &playlist) {
  std::size_t at = offset + 4;
  for (std::uint32_t i = 0; i < counts.video; ++i) {
    at += 1 + bytes.at(at, 1); // the dependent view's stream entry
    at += 1 + bytes.at(at, 1); // its attributes
    at += 2;                   // number of offset sequences
  }
  std::size_t graphics = 0;
  for (std::uint32_t i = 0; i < counts.subtitles; ++i) {
    const auto sequence = static_cast<int>(bytes.at(at, 1));
    const std::uint32_t flags = bytes.at(at + 1, 1);
    at += 2;
    if (flags & 0x04) { // separate left and right graphics streams
      at += 1 + bytes.at(at, 1);
      at += 1 + bytes.at(at, 1);
      at += 2;
    }
    for (std::uint32_t bit : {0x02u, 0x01u})
      if (flags & bit) {
        at += 1 + bytes.at(at, 1);
        at += 2;
      }
    // Text subtitles share the count but are not kept.
    if (graphics < playlist.subtitles.size() && sequence != 0xFF)
      playlist.subtitles[graphics].offsetSequence = sequence;
    ++graphics;
  }
}

/// One sub-path at `offset`; a dependent-view one (type 8) names the dependent clips.
std::size_t readSubPath(const Bytes &bytes, std::size_t offset, Playlist &playlist) {
  if (bytes.at(offset + 5, 1) == 8) {
    playlist.stereo = true;
    const std::uint32_t count = bytes.at(offset + 9, 1);
    std::size_t at = offset + 10;
    for (std::uint32_t i = 0; i < count; ++i) {
      playlist.dependentClips.push_back(bytes.text(at + 2, 5));
      at += 2 + bytes.at(at, 2);
    }
  }
  return offset + 4 + bytes.at(offset, 4);
}

void readExtensions(const Bytes &bytes, std::size_t offset, const StreamCounts &counts, Playlist &playlist) {
  if (offset == 0 || offset >= bytes.size() || bytes.at(offset, 4) == 0)
    return;
  const std::uint32_t entries = bytes.at(offset + 11, 1);
  for (std::uint32_t i = 0; i < entries; ++i) {
    const std::size_t entry = offset + 12 + 12 * i;
    const std::uint32_t id = bytes.at(entry, 4);
    const std::size_t address = offset + bytes.at(entry + 4, 4);
    if (id == 0x00020001) {
      playlist.stereo = true;
      readStereoStreamTable(bytes, address, counts, playlist);
    } else if (id == 0x00020002) {
      const std::uint32_t count = bytes.at(address + 4, 2);
      std::size_t at = address + 6;
      for (std::uint32_t path = 0; path < count; ++path)
        at = readSubPath(bytes, at, playlist);
    }
  }
}

void readMarks(const Bytes &bytes, std::size_t offset, Playlist &playlist) {
  const std::uint32_t count = bytes.at(offset + 4, 2);
  std::vector<double> itemStarts;
  double start = 0;
  for (const auto &item : playlist.items) {
    itemStarts.push_back(start);
    start += (item.outTime - item.inTime) / kTicksPerSecond;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t mark = offset + 6 + 14 * i;
    if (bytes.at(mark + 1, 1) != 1) // entry marks only
      continue;
    const std::uint32_t item = bytes.at(mark + 2, 2);
    const std::uint32_t time = bytes.at(mark + 4, 4);
    if (item >= playlist.items.size() || time < playlist.items[item].inTime)
      continue;
    playlist.chapters.push_back(itemStarts[item] + (time - playlist.items[item].inTime) / kTicksPerSecond);
  }
}

} // namespace

double Playlist::duration() const {
  double seconds = 0;
  for (const auto &item : items)
    seconds += (item.outTime - item.inTime) / kTicksPerSecond;
  return seconds;
}

Playlist readPlaylist(std::string_view data) {
  const Bytes bytes(data);
  if (data.size() < 60 || data.substr(0, 4) != "MPLS")
    throw SourceError("not a Blu-ray playlist");
  Playlist playlist;
  playlist.baseViewIsRight = (bytes.at(56, 1) & 0x10) != 0;
  const std::size_t list = bytes.at(8, 4), marks = bytes.at(12, 4), extensions = bytes.at(16, 4);
  const std::uint32_t itemCount = bytes.at(list + 6, 2), subPathCount = bytes.at(list + 8, 2);
  std::size_t at = list + 10;
  StreamCounts counts;
  for (std::uint32_t i = 0; i < itemCount; ++i) {
    const std::uint32_t length = bytes.at(at, 2);
    PlayItem item;
    item.clip = bytes.text(at + 2, 5);
    item.inTime = bytes.at(at + 14, 4);
    item.outTime = bytes.at(at + 18, 4);
    if (item.outTime < item.inTime)
      throw SourceError("the playlist has a play item that ends before it starts");
    if (i == 0) {
      const bool multiAngle = (bytes.at(at + 12, 1) & 0x10) != 0;
      std::size_t table = at + 34;
      if (multiAngle)
        table += 2 + 10 * (bytes.at(table, 1) - 1);
      counts = readStreamTable(bytes, table, playlist);
    }
    playlist.items.push_back(std::move(item));
    at += 2 + length;
  }
  for (std::uint32_t i = 0; i < subPathCount; ++i)
    at = readSubPath(bytes, at, playlist);
  readMarks(bytes, marks, playlist);
  readExtensions(bytes, extensions, counts, playlist);
  return playlist;
}

std::optional<std::pair<int, int>> videoFormatSize(int format) {
  switch (format) {
  case 1:
  case 3:
    return std::pair{720, 480};
  case 2:
  case 7:
    return std::pair{720, 576};
  case 4:
  case 6:
    return std::pair{1920, 1080};
  case 5:
    return std::pair{1280, 720};
  case 8:
    return std::pair{3840, 2160};
  default:
    return std::nullopt;
  }
}

std::optional<std::pair<int, int>> frameRateOfCode(int code) {
  switch (code) {
  case 1:
    return std::pair{24000, 1001};
  case 2:
    return std::pair{24, 1};
  case 3:
    return std::pair{25, 1};
  case 4:
    return std::pair{30000, 1001};
  case 6:
    return std::pair{50, 1};
  case 7:
    return std::pair{60000, 1001};
  default:
    return std::nullopt;
  }
}

} // namespace kestrova::disc
