#include "ChunkWriter.h"

#include <filesystem>

namespace kestrova::mvhevc {

ChunkWriter::ChunkWriter(const std::string &output, int width, int height, int rateNum, int rateDen)
    : stream_(output), record_(output + ".frames"), streamOut_(stream_.path(), std::ios::binary),
      recordOut_(record_.path()) {
  if (!streamOut_ || !recordOut_) {
    throw OutputError("cannot write the chunk " + output);
  }
  // An earlier record must not vouch for the stream this run replaces.
  std::error_code ignored;
  std::filesystem::remove(output + ".frames", ignored);
  recordOut_ << "view " << width << ' ' << height << ' ' << rateNum << ' ' << rateDen << '\n';
}

std::uint64_t ChunkWriter::writeNals(std::span<const NalBytes> nals) {
  std::uint64_t bytes = 0;
  for (const auto &nal : nals) {
    streamOut_.write("\0\0\0\1", 4);
    streamOut_.write(reinterpret_cast<const char *>(nal.data()), static_cast<std::streamsize>(nal.size()));
    bytes += 4 + nal.size();
  }
  return bytes;
}

void ChunkWriter::writeHeaders(std::span<const NalBytes> nals) {
  writeNals(nals);
}

void ChunkWriter::writeSample(std::span<const NalBytes> nals, const VideoSampleInfo &info) {
  recordOut_ << writeNals(nals) << ' ' << (info.sync ? 1 : 0) << ' ' << info.presentationIndex << ' '
             << (info.disposable ? 1 : 0) << ' ' << static_cast<int>(info.nalType) << ' ' << (info.independent ? 1 : 0)
             << '\n';
  ++samples_;
}

void ChunkWriter::finish(std::int64_t frames) {
  if (frames != samples_) {
    throw OutputError("the chunk holds " + std::to_string(samples_) + " of " + std::to_string(frames) + " pictures");
  }
  recordOut_ << "frames " << frames << '\n';
  streamOut_.close();
  recordOut_.close();
  if (streamOut_.fail() || recordOut_.fail()) {
    throw OutputError("cannot finish the chunk (disk full?)");
  }
  stream_.commit();
  record_.commit();
}

} // namespace kestrova::mvhevc
