#include "ChunkJoiner.h"

#include "Chapters.h"
#include "Converter.h"
#include "MultiviewPackager.h"
#include "NalUnit.h"
#include "PartialFile.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

namespace kestrova::mvhevc {
namespace {

struct RecordLine {
  std::uint64_t bytes = 0;
  VideoSampleInfo info;
};

int nalType(const NalBytes &nal) {
  return nal.empty() ? -1 : (nal[0] >> 1) & 0x3f;
}

// VPS, SPS and PPS of both layers, the part that must be equal for chunks to join.
std::vector<NalBytes> parameterSets(const std::vector<NalBytes> &headers) {
  std::vector<NalBytes> sets;
  std::copy_if(headers.begin(), headers.end(), std::back_inserter(sets), [](const NalBytes &nal) {
    const int type = nalType(nal);
    return type >= 32 && type <= 34;
  });
  return sets;
}

std::vector<RecordLine> readRecord(const std::string &path, ChunkContents &chunk) {
  std::ifstream in(path + ".frames");
  const auto refuse = [&](const std::string &why) {
    return ChunkError("chunk " + path + " is not whole (" + why + "); encode it again");
  };
  if (!in) {
    throw refuse("no frame record");
  }
  std::string word;
  if (!(in >> word >> chunk.width >> chunk.height >> chunk.rateNum >> chunk.rateDen) || word != "view" ||
      chunk.rateNum <= 0 || chunk.rateDen <= 0) {
    throw refuse("its frame record does not start with the picture format");
  }
  std::vector<RecordLine> lines;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    if (line.rfind("frames ", 0) == 0) {
      std::int64_t frames = -1;
      fields >> word >> frames;
      if (frames != static_cast<std::int64_t>(lines.size()) || frames == 0) {
        throw refuse("its frame record counts " + std::to_string(frames) + " pictures but lists " +
                     std::to_string(lines.size()));
      }
      return lines;
    }
    RecordLine entry;
    int sync = 0, disposable = 0, type = 0, independent = 0;
    if (!(fields >> entry.bytes >> sync >> entry.info.presentationIndex >> disposable >> type >> independent)) {
      throw refuse("its frame record has a broken line");
    }
    entry.info.sync = sync != 0;
    entry.info.disposable = disposable != 0;
    entry.info.nalType = static_cast<std::uint8_t>(type);
    entry.info.independent = independent != 0;
    lines.push_back(entry);
  }
  throw refuse("its frame record has no frame count");
}

} // namespace

ChunkContents readChunk(const std::string &path) {
  ChunkContents chunk;
  const auto lines = readRecord(path, chunk);
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> stream{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::uint64_t sampleBytes = 0;
  for (const auto &line : lines) {
    sampleBytes += line.bytes;
  }
  if (sampleBytes >= stream.size()) {
    throw ChunkError("chunk " + path + " holds " + std::to_string(stream.size()) + " bytes, less than its record says");
  }
  const auto headerBytes = stream.size() - sampleBytes;
  chunk.headers = splitAnnexB(std::span(stream.data(), headerBytes));
  std::vector<bool> seen(lines.size());
  auto at = headerBytes;
  for (const auto &line : lines) {
    if (line.bytes < 4 || !std::equal(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                      stream.begin() + static_cast<std::ptrdiff_t>(at) + 4, "\0\0\0\1")) {
      throw ChunkError("chunk " + path + " is corrupt: picture " + std::to_string(chunk.samples.size()) +
                       " does not start where its record says");
    }
    const auto index = line.info.presentationIndex;
    if (index < 0 || index >= static_cast<std::int64_t>(lines.size()) || seen[static_cast<std::size_t>(index)]) {
      throw ChunkError("chunk " + path + " is corrupt: its pictures are not shown once each");
    }
    seen[static_cast<std::size_t>(index)] = true;
    chunk.samples.push_back({splitAnnexB(std::span(stream.data() + at, line.bytes)), line.info});
    at += line.bytes;
  }
  if (parameterSets(chunk.headers).size() < 3 || !chunk.samples.front().info.sync) {
    throw ChunkError("chunk " + path + " does not start with parameter sets and a key frame");
  }
  return chunk;
}

void joinChunks(const JoinRequest &request, std::ostream &notes, std::stop_token stop) {
  if (request.chunks.empty()) {
    throw ChunkError("no chunks to join");
  }
  // Every chunk is read and checked before anything is written (one at a time in memory).
  const auto first = readChunk(request.chunks.front());
  const auto sets = parameterSets(first.headers);
  std::int64_t total = 0;
  for (const auto &path : request.chunks) {
    const auto chunk = path == request.chunks.front() ? first : readChunk(path);
    if (chunk.width != first.width || chunk.height != first.height || chunk.rateNum != first.rateNum ||
        chunk.rateDen != first.rateDen || parameterSets(chunk.headers) != sets) {
      throw ChunkError("chunk " + path + " was encoded otherwise than chunk " + request.chunks.front() +
                       " (its parameter sets or picture format differ: another encoder build or settings)");
    }
    total += static_cast<std::int64_t>(chunk.samples.size());
  }

  auto chapters = request.chapters.empty() ? std::vector<Chapter>{} : readChapters(request.chapters);
  SoundTracks sound(request.audio, notes);
  PartialFile partial(request.output);
  MovWriter writer(partial.path(), sound.tracks());
  const auto audioSink = [&writer](AudioPacket &&packet) { writer.writeAudioSample(packet); };
  const auto secondsOf = [&first](std::int64_t pictures) {
    return static_cast<double>(pictures) * first.rateDen / first.rateNum;
  };
  std::int64_t written = 0;
  for (const auto &path : request.chunks) {
    if (stop.stop_requested()) {
      throw Cancelled();
    }
    const auto chunk = path == request.chunks.front() ? first : readChunk(path);
    const auto offset = written;
    for (const auto &sample : chunk.samples) {
      auto info = sample.info;
      info.presentationIndex += offset;
      writer.writeVideoSample(sample.nals, info);
      ++written;
      sound.deliverUntil(secondsOf(written), audioSink);
    }
  }
  if (written != total) {
    throw ChunkError("chunks changed while they were joined");
  }
  sound.deliverUntil(secondsOf(total), audioSink);

  VideoTrackSetup setup;
  MultiviewPackager(first.headers).describe(setup);
  setup.width = first.width;
  setup.height = first.height;
  std::tie(setup.timescale, setup.sampleDelta) = movieTiming(first.rateNum, first.rateDen);
  setup.stereo = request.stereo;
  writer.finish(setup, chaptersWithin(std::move(chapters), secondsOf(total), notes));
  if (stop.stop_requested()) {
    throw Cancelled();
  }
  partial.commit();
}

} // namespace kestrova::mvhevc
