#include "Converter.h"

#include "EncoderThread.h"
#include "FrameSource.h"
#include "LayerMerger.h"
#include "PartialFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>

namespace kestrova::mvhevc {
namespace {

std::optional<double> parseNumber(std::string_view text) {
  double value = 0;
  const auto *end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// Keeps the movie timescale at 600 or more, the resolution QuickTime editors expect.
std::pair<std::uint32_t, std::uint32_t> timing(int rateNum, int rateDen) {
  auto num = static_cast<std::uint32_t>(rateNum);
  auto den = static_cast<std::uint32_t>(rateDen);
  if (num < 600) {
    const auto factor = (600 + num - 1) / num;
    num *= factor;
    den *= factor;
  }
  return {num, den};
}

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

// Writes the single-layer encodes as Annex B files, for checking the two-layer stream.
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

private:
  static void writeOne(std::ofstream &out, const CodedPicture &picture) {
    for (const auto &nal : picture.nals) {
      out.write("\0\0\0\1", 4);
      out.write(reinterpret_cast<const char *>(nal.data()), static_cast<std::streamsize>(nal.size()));
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

} // namespace

ConversionRequest parseArguments(int argc, const char *const *argv) {
  if (argc != 4 && argc != 5) {
    throw std::invalid_argument("usage: MVHEVCConverter INPUT OUTPUT QUALITY [CAP]");
  }
  ConversionRequest request;
  request.input = argv[1];
  request.output = argv[2];
  const auto quality = parseNumber(argv[3]);
  if (!quality || *quality <= 0 || *quality > 1) {
    throw std::invalid_argument(std::string("QUALITY must be a number above 0 and at most 1, not ") + argv[3]);
  }
  request.quality = *quality;
  if (argc == 5) {
    const auto cap = parseNumber(argv[4]);
    if (!cap || *cap < 1 || *cap > 1000) {
      throw std::invalid_argument(std::string("CAP must be megabits per second between 1 and 1000, not ") + argv[4]);
    }
    request.capMbps = static_cast<int>(std::lround(*cap));
  }
  return request;
}

void convert(const ConversionRequest &request, std::ostream &progressOut, std::ostream &notes, std::stop_token stop) {
  FrameSource source(request.input);
  if (!source.skippedAudioCodec().empty()) {
    notes << "MVHEVCConverter: the first audio track is " << source.skippedAudioCodec()
          << ", not AAC; the output has no sound\n";
  }
  const auto &video = source.video();
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

  PartialFile partial(request.output);
  MovWriter writer(partial.path(), source.audio());
  Muxer muxer{writer, {}, LayerDump(request.dumpPrefix), {}, {}, 0};
  Progress progress(progressOut, video.expectedFrames);
  std::int64_t muxed = 0;
  {
    EncoderThread left(settings, 0);
    EncoderThread right(settings, settings.width);
    std::int64_t pts = 0;
    const auto audioSink = [&writer](AudioPacket &&packet) { writer.writeAudioSample(packet); };
    while (auto frame = source.next(audioSink)) {
      if (stop.stop_requested()) {
        throw Cancelled();
      }
      left.push(frame, pts);
      right.push(std::move(frame), pts);
      ++pts;
      if (const auto count = muxer.drain(left, right); count > 0) {
        muxed += static_cast<std::int64_t>(count);
        progress.picture(muxed);
      }
    }
    if (pts == 0) {
      throw InputError("the input has no video frames");
    }
    left.finish();
    right.finish();
    // Each wait is for the view that is behind, since only it can complete the next pair.
    while (EncoderThread *behind = muxer.behind(left, right)) {
      behind->waitForPictures(stop);
      if (stop.stop_requested()) {
        throw Cancelled();
      }
      if (const auto count = muxer.drain(left, right); count > 0) {
        muxed += static_cast<std::int64_t>(count);
        progress.picture(muxed);
      }
    }
    left.join();
    right.join();
    muxed += static_cast<std::int64_t>(muxer.drain(left, right));
    if (!muxer.left.empty() || !muxer.right.empty() || muxed != pts) {
      throw StructureError("the two views' encodes produced different numbers of pictures");
    }
  }
  progress.finished(muxed);
  VideoTrackSetup setup;
  setup.width = settings.width;
  setup.height = settings.height;
  std::tie(setup.timescale, setup.sampleDelta) = timing(video.frameRateNum, video.frameRateDen);
  setup.stereo = request.stereo;
  muxer.merger.describe(setup);
  writer.finish(setup);
  if (stop.stop_requested()) {
    throw Cancelled();
  }
  partial.commit();
}

} // namespace kestrova::mvhevc
