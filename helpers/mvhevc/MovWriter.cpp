#include "MovWriter.h"

#include "MovieBoxes.h"
#include "SoundAndChapterTracks.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kestrova::mvhevc {
namespace {

constexpr std::size_t kBufferLimit = 4U << 20;

std::vector<std::uint8_t> fileTypeAndMediaHeader() {
  BoxWriter boxes;
  boxes.open("ftyp");
  boxes.fourcc("qt  ");
  boxes.u32(0);
  boxes.fourcc("qt  ");
  boxes.close();
  // A 64-bit media data header, so that any amount of media fits; the size is set at the end.
  auto bytes = boxes.data();
  const std::uint8_t mdat[16] = {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, 0};
  bytes.insert(bytes.end(), std::begin(mdat), std::end(mdat));
  return bytes;
}

} // namespace

MovWriter::MovWriter(const std::string &path, std::vector<AudioInfo> sound) : path_(path) {
  for (auto &info : sound) {
    sound_.push_back({std::move(info), {}, {}, 0});
  }
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    throw OutputError("cannot create " + path + ": " + std::strerror(errno));
  }
  const auto header = fileTypeAndMediaHeader();
  append(header);
  mdatStart_ = header.size() - 16;
}

MovWriter::~MovWriter() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

void MovWriter::append(std::span<const std::uint8_t> bytes) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  position_ += bytes.size();
  if (buffer_.size() >= kBufferLimit) {
    flushBuffer();
  }
}

void MovWriter::flushBuffer() {
  std::size_t done = 0;
  while (done < buffer_.size()) {
    const auto written = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw OutputError("cannot write " + path_ + ": " + std::strerror(errno));
    }
    done += static_cast<std::size_t>(written);
  }
  buffer_.clear();
}

void MovWriter::writeVideoSample(std::span<const NalBytes> nals, const VideoSampleInfo &info) {
  video_.offsets.push_back(position_);
  std::uint32_t size = 0;
  for (const auto &nal : nals) {
    const auto length = static_cast<std::uint32_t>(nal.size());
    const std::uint8_t prefix[4] = {static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
                                    static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    append(prefix);
    append(nal);
    size += 4 + length;
  }
  video_.sizes.push_back(size);
  videoInfo_.push_back(info);
}

void MovWriter::writeAudioSample(const AudioPacket &packet) {
  if (packet.track >= sound_.size()) {
    return;
  }
  auto &track = sound_[packet.track];
  if (track.table.offsets.empty() && packet.pts < 0) {
    track.priming = -packet.pts; // the source's edit list started this far into the first packets
  }
  track.table.offsets.push_back(position_);
  track.table.sizes.push_back(static_cast<std::uint32_t>(packet.data.size()));
  track.durations.push_back(static_cast<std::uint32_t>(packet.duration));
  append(packet.data);
}

void MovWriter::finish(const VideoTrackSetup &video, const std::vector<Chapter> &chapters) {
  Track chapterTable;
  for (const auto &chapter : chapters) {
    const auto sample = chapterSample(chapter.title);
    chapterTable.offsets.push_back(position_);
    chapterTable.sizes.push_back(static_cast<std::uint32_t>(sample.size()));
    append(sample);
  }
  const auto mdatSize = position_ - mdatStart_;
  MovieDescription movie;
  movie.video = &video;
  movie.videoSamples = &videoInfo_;
  movie.videoSizes = &video_.sizes;
  movie.videoOffsets = &video_.offsets;
  // A track no sound reached (its source started after the last picture) is left out.
  for (const auto &track : sound_) {
    if (!track.table.sizes.empty()) {
      movie.sound.push_back({&track.info, &track.table.sizes, &track.table.offsets, &track.durations, track.priming});
    }
  }
  movie.chapters = &chapters;
  movie.chapterSizes = &chapterTable.sizes;
  movie.chapterOffsets = &chapterTable.offsets;
  append(movieBox(movie));
  flushBuffer();
  std::uint8_t size[8];
  for (int i = 0; i < 8; ++i) {
    size[i] = static_cast<std::uint8_t>(mdatSize >> (56 - 8 * i));
  }
  if (::pwrite(fd_, size, sizeof size, static_cast<off_t>(mdatStart_ + 8)) != static_cast<ssize_t>(sizeof size)) {
    throw OutputError("cannot write " + path_ + ": " + std::strerror(errno));
  }
  if (::fsync(fd_) != 0) {
    throw OutputError("cannot write " + path_ + " to disk: " + std::strerror(errno));
  }
  if (::close(fd_) != 0) {
    fd_ = -1;
    throw OutputError("cannot close " + path_ + ": " + std::strerror(errno));
  }
  fd_ = -1;
}

} // namespace kestrova::mvhevc
