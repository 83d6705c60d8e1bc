#include "Converter.h"

#include "ChunkWriter.h"
#include "EncoderThread.h"
#include "FrameSource.h"
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

// Writes one NAL unit in Annex B form, for the dump of the stream the movie holds.
void writeNal(std::ofstream &out, const NalBytes &nal) {
  static constexpr char kStartCode[] = {0, 0, 0, 1};
  out.write(kStartCode, sizeof kStartCode);
  out.write(reinterpret_cast<const char *>(nal.data()), static_cast<std::streamsize>(nal.size()));
}

// What the encode needs of its run.
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

// The Annex B dump of the stream the movie holds, its headers first; not
// open when no dump was asked for.
template <class Headers> std::ofstream openDump(const std::string &prefix, const Headers &headers) {
  std::ofstream dump;
  if (!prefix.empty()) {
    dump.open(prefix + ".hevc", std::ios::binary);
    for (const auto &nal : headers) {
      writeNal(dump, nal);
    }
  }
  return dump;
}

// Hands every picture of the source to `encoder` on a thread of its own,
// then drains it; `store` takes the coded pictures as they come. Returns
// the pictures read.
template <class Store>
std::int64_t feedPictures(Encoding &e, std::unique_ptr<PictureEncoder> encoder, const Store &store) {
  EncoderThread thread(std::move(encoder));
  std::int64_t pts = 0;
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
  return pts;
}

// x265 encodes both views as one two-layer stream.
std::int64_t encodeTwoLayers(Encoding &e, const EncoderSettings &settings, VideoTrackSetup &setup) {
  MultiviewEncoder encoder(settings);
  const auto headers = encoder.headers();
  const MultiviewPackager packager(headers);
  if (e.chunk != nullptr) {
    e.chunk->writeHeaders(headers);
  }
  std::ofstream dump = openDump(e.dumpPrefix, headers);
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
          writeNal(dump, nal);
        }
      }
      ++muxed;
    }
    if (!coded.empty()) {
      e.progress.picture(muxed);
    }
  };
  const std::int64_t pts = feedPictures(e, twoViewEncoder(encoder, settings.width), store);
  if (muxed != pts) {
    throw StructureError("the encoder returned " + std::to_string(muxed) + " of " + std::to_string(pts) + " pictures");
  }
  packager.describe(setup);
  return muxed;
}

// The first `limit` pictures of another source.
class FirstPictures : public PictureSource {
public:
  FirstPictures(std::unique_ptr<PictureSource> source, std::int64_t limit)
      : source_(std::move(source)), limit_(limit), video_(source_->video()) {
    if (video_.expectedFrames == 0 || video_.expectedFrames > limit_) {
      video_.expectedFrames = limit_;
    }
  }
  const VideoInfo &video() const override { return video_; }
  SharedFrame next(const std::function<void(AudioPacket &&)> &audioSink) override {
    if (taken_ == limit_) {
      return nullptr;
    }
    auto picture = source_->next(audioSink);
    taken_ += picture ? 1 : 0;
    return picture;
  }

private:
  std::unique_ptr<PictureSource> source_;
  std::int64_t limit_;
  std::int64_t taken_ = 0;
  VideoInfo video_;
};

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
    if (request.frameLimit > 0) {
      // A piece of a film, which may go on past its chunk (an open GOP's leading pictures); its
      // sound, if any, is not taken.
      sources.pictures = std::make_unique<FirstPictures>(std::move(file), request.frameLimit);
      return sources;
    }
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
    if (request.frameLimit > 0) {
      // A chunk's piece that ends with the next open GOP's I picture.
      sources.pictures = std::make_unique<FirstPictures>(std::move(sources.pictures), request.frameLimit);
      return sources;
    }
  }
  auto sound = std::make_unique<SoundTracks>(request.audio, notes);
  sources.sound = sound->tracks();
  sources.pictures = std::make_unique<PicturesWithSound>(std::move(sources.pictures), std::move(sound), stop);
  return sources;
}

// The encoder's settings for two views of the packed pictures `video`.
EncoderSettings encoderSettings(const ConversionRequest &request, const VideoInfo &video) {
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
  if (request.threads > 0) {
    settings.x265Options.emplace_back("pools", std::to_string(request.threads));
  }
  settings.keyframeInterval = std::max(1, static_cast<int>(std::lround(2.0 * video.frameRateNum / video.frameRateDen)));
  return settings;
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
  const EncoderSettings settings = encoderSettings(request, video);

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
    muxed = encodeTwoLayers(encoding, settings, setup);
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
  return "x265 two-view encoder, layer 1 predicted from layer 0";
}

} // namespace kestrova::mvhevc
