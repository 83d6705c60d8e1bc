#include "Converter.h"

#include "ChunkWriter.h"
#include "EncoderThread.h"
#include "FrameSource.h"
#include "LayerMerger.h"
#include "MultiviewPackager.h"
#include "PartialFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <optional>
#include <unistd.h>

namespace kestrova::mvhevc {

std::pair<std::uint32_t, std::uint32_t> movieTiming(int rateNum, int rateDen) {
  auto num = static_cast<std::uint32_t>(rateNum);
  auto den = static_cast<std::uint32_t>(rateDen);
  if (num < 600) {
    const auto factor = (600 + num - 1) / num;
    num *= factor;
    den *= factor;
  }
  return {num, den};
}

namespace {

class Progress {
public:
  Progress(std::ostream &out, std::int64_t expected) : out_(out), expected_(expected) {}

  void picture(std::int64_t done) {
    const auto total = std::max(expected_, done);
    const auto percent = total > 0 ? done * 100 / total : 0;
    if ((percent == lastPercent_ && done != total) || (done == lastDone_ && total == lastTotal_)) {
      return;
    }
    lastPercent_ = percent;
    lastDone_ = done;
    lastTotal_ = total;
    out_ << "Frame " << done << '/' << total << " (" << percent << "%)\n" << std::flush;
  }

  /// The last line: the count is now known exactly.
  void finished(std::int64_t done) {
    expected_ = done;
    lastPercent_ = -1;
    picture(done);
  }

private:
  std::ostream &out_;
  std::int64_t expected_;
  std::int64_t lastPercent_ = -1;
  std::int64_t lastDone_ = -1;
  std::int64_t lastTotal_ = -1;
};

// Writes the encodes as Annex B files, for checking the stream the movie holds.
class LayerDump {
public:
  explicit LayerDump(const std::string &prefix) {
    if (!prefix.empty()) {
      left_.open(prefix + ".left.hevc", std::ios::binary);
      right_.open(prefix + ".right.hevc", std::ios::binary);
    }
  }
  void write(const CodedPicture &left, const CodedPicture &right) {
    if (left_.is_open()) {
      writeOne(left_, left);
      writeOne(right_, right);
    }
  }
  static void writeNal(std::ofstream &out, const NalBytes &nal) {
    out.write("\0\0\0\1", 4);
    out.write(reinterpret_cast<const char *>(nal.data()), static_cast<std::streamsize>(nal.size()));
  }

private:
  static void writeOne(std::ofstream &out, const CodedPicture &picture) {
    for (const auto &nal : picture.nals) {
      writeNal(out, nal);
    }
  }
  std::ofstream left_, right_;
};

struct Muxer {
  MovWriter &writer;
  LayerMerger merger;
  LayerDump dump;
  std::vector<CodedPicture> left, right;
  std::size_t next = 0;

  // Merges the pictures both views have finished, in decoding order.
  std::size_t drain(EncoderThread &leftThread, EncoderThread &rightThread) {
    for (auto &coded : leftThread.take()) {
      left.push_back(std::move(coded));
    }
    for (auto &coded : rightThread.take()) {
      right.push_back(std::move(coded));
    }
    const auto ready = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < ready; ++i) {
      dump.write(left[i], right[i]);
      const auto unit = merger.merge(left[i], right[i]);
      writer.writeVideoSample(unit.nals, unit.info);
    }
    left.erase(left.begin(), left.begin() + static_cast<std::ptrdiff_t>(ready));
    right.erase(right.begin(), right.begin() + static_cast<std::ptrdiff_t>(ready));
    return ready;
  }

  // The view to wait for while the encoders drain: the one still encoding, or of two still
  // encoding the one with fewer pictures waiting here; null once both are drained.
  EncoderThread *behind(EncoderThread &leftThread, EncoderThread &rightThread) const {
    const bool leftOpen = !leftThread.drained();
    const bool rightOpen = !rightThread.drained();
    if (leftOpen && (!rightOpen || left.size() <= right.size())) {
      return &leftThread;
    }
    return rightOpen ? &rightThread : nullptr;
  }
};

// What both encoding paths share.
struct Encoding {
  PictureSource &source;
  MovWriter *writer;  // null when writing a chunk
  ChunkWriter *chunk; // null when writing a movie
  Progress &progress;
  std::stop_token stop;
  const std::string &dumpPrefix;

  void checkStop() const {
    if (stop.stop_requested()) {
      throw Cancelled();
    }
  }
};

// x265 encodes both views as one two-layer stream.
std::int64_t encodeTwoLayers(Encoding &e, const EncoderSettings &settings, VideoTrackSetup &setup) {
  MultiviewEncoder encoder(settings);
  const auto headers = encoder.headers();
  const MultiviewPackager packager(headers);
  if (e.chunk != nullptr) {
    e.chunk->writeHeaders(headers);
  }
  std::ofstream dump;
  if (!e.dumpPrefix.empty()) {
    dump.open(e.dumpPrefix + ".hevc", std::ios::binary);
    for (const auto &nal : headers) {
      LayerDump::writeNal(dump, nal);
    }
  }
  std::int64_t pts = 0;
  std::int64_t muxed = 0;
  const auto store = [&](std::vector<CodedPicture> coded) {
    for (const auto &picture : coded) {
      const auto unit = packager.package(picture);
      if (e.writer != nullptr) {
        e.writer->writeVideoSample(unit.nals, unit.info);
      } else {
        e.chunk->writeSample(unit.nals, unit.info);
      }
      if (dump.is_open()) {
        for (const auto &nal : unit.nals) {
          LayerDump::writeNal(dump, nal);
        }
      }
      ++muxed;
    }
    if (!coded.empty()) {
      e.progress.picture(muxed);
    }
  };
  {
    EncoderThread thread(twoViewEncoder(encoder, settings.width));
    const auto audioSink = [&e](AudioPacket &&packet) {
      if (e.writer != nullptr) {
        e.writer->writeAudioSample(packet);
      }
    };
    while (auto frame = e.source.next(audioSink)) {
      e.checkStop();
      thread.push(std::move(frame), pts++);
      store(thread.take());
    }
    if (pts == 0) {
      throw InputError("the input has no video frames");
    }
    thread.finish();
    while (!thread.drained()) {
      thread.waitForPictures(e.stop);
      e.checkStop();
      store(thread.take());
    }
    thread.join();
    store(thread.take());
  }
  if (muxed != pts) {
    throw StructureError("the encoder returned " + std::to_string(muxed) + " of " + std::to_string(pts) + " pictures");
  }
  packager.describe(setup);
  return muxed;
}

// Two single-layer encodes, joined into two layers without inter-layer prediction.
std::int64_t encodeViewsApart(Encoding &e, const EncoderSettings &settings, VideoTrackSetup &setup) {
  if (e.writer == nullptr) {
    throw OutputError("chunks need an x265 with the two-view encoder");
  }
  Muxer muxer{*e.writer, {}, LayerDump(e.dumpPrefix), {}, {}, 0};
  std::int64_t muxed = 0;
  std::int64_t pts = 0;
  {
    EncoderThread left(singleViewEncoder(settings, 0));
    EncoderThread right(singleViewEncoder(settings, settings.width));
    const auto audioSink = [&e](AudioPacket &&packet) {
      if (e.writer != nullptr) {
        e.writer->writeAudioSample(packet);
      }
    };
    while (auto frame = e.source.next(audioSink)) {
      e.checkStop();
      left.push(frame, pts);
      right.push(std::move(frame), pts);
      ++pts;
      if (const auto count = muxer.drain(left, right); count > 0) {
        muxed += static_cast<std::int64_t>(count);
        e.progress.picture(muxed);
      }
    }
    if (pts == 0) {
      throw InputError("the input has no video frames");
    }
    left.finish();
    right.finish();
    // Each wait is for the view that is behind, since only it can complete the next pair.
    while (EncoderThread *behind = muxer.behind(left, right)) {
      behind->waitForPictures(e.stop);
      e.checkStop();
      if (const auto count = muxer.drain(left, right); count > 0) {
        muxed += static_cast<std::int64_t>(count);
        e.progress.picture(muxed);
      }
    }
    left.join();
    right.join();
    muxed += static_cast<std::int64_t>(muxer.drain(left, right));
    if (!muxer.left.empty() || !muxer.right.empty() || muxed != pts) {
      throw StructureError("the two views' encodes produced different numbers of pictures");
    }
  }
  muxer.merger.describe(setup);
  return muxed;
}

// The pictures and the sound tracks that go with them.
struct Sources {
  std::unique_ptr<PictureSource> pictures;
  std::vector<AudioInfo> sound;
};

// The pictures (and the sound that goes with them) the request names. Remarks go to `notes`.
Sources openSources(const ConversionRequest &request, std::ostream &notes, std::stop_token stop) {
  Sources sources;
  if (!request.pairs) {
    auto file = std::make_unique<FrameSource>(request.input, request.layout);
    if (request.audio.empty()) {
      if (!file->skippedAudioCodec().empty()) {
        notes << "MVHEVCConverter: the first audio track is " << file->skippedAudioCodec()
              << ", not AAC; the output has no sound\n";
      }
      if (file->audio()) {
        sources.sound.push_back(*file->audio());
      }
      sources.pictures = std::move(file);
      return sources;
    }
    sources.pictures = std::move(file);
  } else {
    sources.pictures = std::make_unique<PairSource>(STDIN_FILENO, *request.pairs, stop, notes);
  }
  auto sound = std::make_unique<SoundTracks>(request.audio, notes);
  sources.sound = sound->tracks();
  sources.pictures = std::make_unique<PicturesWithSound>(std::move(sources.pictures), std::move(sound), stop);
  return sources;
}

} // namespace

std::vector<Chapter> chaptersWithin(std::vector<Chapter> chapters, double seconds, std::ostream &notes) {
  const auto after = std::find_if(chapters.begin(), chapters.end(),
                                  [seconds](const Chapter &chapter) { return chapter.startSeconds >= seconds; });
  if (after != chapters.end()) {
    notes << "MVHEVCConverter: " << (chapters.end() - after) << " chapter(s) from \"" << after->title
          << "\" on start after the last picture; left out\n";
    chapters.erase(after, chapters.end());
  }
  if (!chapters.empty() && chapters.front().startSeconds > 0) {
    notes << "MVHEVCConverter: the first chapter, \"" << chapters.front().title << "\", is taken to start with the "
          << "movie, not at " << chapters.front().startSeconds << " s\n";
    chapters.front().startSeconds = 0;
  }
  return chapters;
}

void convert(const ConversionRequest &request, std::ostream &progressOut, std::ostream &notes, std::stop_token stop) {
  auto chapters = request.chapters.empty() ? std::vector<Chapter>{} : readChapters(request.chapters);
  auto [source, sound] = openSources(request, notes, stop);
  const auto &video = source->video();
  EncoderSettings settings;
  settings.width = video.width / 2;
  settings.height = video.height;
  settings.frameRateNum = video.frameRateNum;
  settings.frameRateDen = video.frameRateDen;
  settings.crf = crfForQuality(request.quality);
  if (request.capMbps) {
    settings.maxRateKbps = *request.capMbps * 1000 / 2; // the cap is shared by the two views
  }
  settings.preset = request.preset;
  settings.keyframeInterval = std::max(1, static_cast<int>(std::lround(2.0 * video.frameRateNum / video.frameRateDen)));

  std::optional<PartialFile> partial;
  std::optional<MovWriter> writer;
  std::optional<ChunkWriter> chunk;
  if (request.chunk) {
    chunk.emplace(request.output, video.width / 2, video.height, video.frameRateNum, video.frameRateDen);
  } else {
    partial.emplace(request.output);
    writer.emplace(partial->path(), std::move(sound));
  }
  Progress progress(progressOut, video.expectedFrames);
  VideoTrackSetup setup;
  Encoding encoding{*source, writer ? &*writer : nullptr, chunk ? &*chunk : nullptr, progress,
                    stop,    request.dumpPrefix};
  std::int64_t muxed = 0;
  try {
    muxed =
        kMultiviewEncoder ? encodeTwoLayers(encoding, settings, setup) : encodeViewsApart(encoding, settings, setup);
  } catch (const InputError &) {
    // A stop ends the input early; that is the stop, not a fault of the input.
    if (stop.stop_requested()) {
      throw Cancelled();
    }
    throw;
  }
  progress.finished(muxed);
  if (chunk) {
    if (stop.stop_requested()) {
      throw Cancelled();
    }
    chunk->finish(muxed);
    return;
  }
  setup.width = settings.width;
  setup.height = settings.height;
  std::tie(setup.timescale, setup.sampleDelta) = movieTiming(video.frameRateNum, video.frameRateDen);
  setup.stereo = request.stereo;
  chapters =
      chaptersWithin(std::move(chapters), static_cast<double>(muxed) * video.frameRateDen / video.frameRateNum, notes);
  writer->finish(setup, chapters);
  if (stop.stop_requested()) {
    throw Cancelled();
  }
  partial->commit();
}

std::string_view encoderDescription() {
  return kMultiviewEncoder ? "x265 two-view encoder, layer 1 predicted from layer 0"
                           : "two single-view encodes joined (this libx265 cannot encode MV-HEVC)";
}

} // namespace kestrova::mvhevc
