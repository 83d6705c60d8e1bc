#include "Converter.h"

#include "EncoderThread.h"
#include "FrameSource.h"
#include "LayerMerger.h"
#include "MultiviewPackager.h"
#include "PartialFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <unistd.h>

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
  MovWriter &writer;
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
      e.writer.writeVideoSample(unit.nals, unit.info);
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
    const auto audioSink = [&e](AudioPacket &&packet) { e.writer.writeAudioSample(packet); };
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
  Muxer muxer{e.writer, {}, LayerDump(e.dumpPrefix), {}, {}, 0};
  std::int64_t muxed = 0;
  std::int64_t pts = 0;
  {
    EncoderThread left(singleViewEncoder(settings, 0));
    EncoderThread right(singleViewEncoder(settings, settings.width));
    const auto audioSink = [&e](AudioPacket &&packet) { e.writer.writeAudioSample(packet); };
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

} // namespace

namespace {

constexpr const char *kUsage = "usage: MVHEVCConverter INPUT OUTPUT QUALITY [CAP] [--baseline-mm MM] "
                               "[--hfov-degrees DEGREES] [--disparity-adjustment N]\n"
                               "       MVHEVCConverter - OUTPUT QUALITY [CAP] --view-size WxH --frame-rate NUM[/DEN] "
                               "[--eye-order left-first|right-first] [--sound FILE] [--pairs N] [stereo options]";

std::optional<int> parseWhole(std::string_view text) {
  int value = 0;
  const auto *end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end) {
    return std::nullopt;
  }
  return value;
}

// Splits "A<separator>B" into two positive whole numbers.
std::optional<std::pair<int, int>> parsePair(std::string_view text, char separator) {
  const auto at = text.find(separator);
  if (at == std::string_view::npos) {
    return std::nullopt;
  }
  const auto first = parseWhole(text.substr(0, at));
  const auto second = parseWhole(text.substr(at + 1));
  if (!first || !second || *first <= 0 || *second <= 0) {
    return std::nullopt;
  }
  return std::pair{*first, *second};
}

// The options that describe view pairs on standard input; false when `arg` is not one of them.
bool applyPairOption(std::string_view arg, std::string_view text, PairFormat &pairs, std::string &sound,
                     bool &sawPairOption) {
  const auto bad = [&](const char *what) {
    return std::invalid_argument(std::string(arg) + " must be " + what + ", not " + std::string(text));
  };
  if (arg == "--view-size") {
    const auto size = parsePair(text, 'x');
    if (!size || size->first % 2 != 0 || size->second % 2 != 0) {
      throw bad("the size of one view as WIDTHxHEIGHT, both even");
    }
    std::tie(pairs.viewWidth, pairs.viewHeight) = *size;
  } else if (arg == "--frame-rate") {
    auto rate = parsePair(text, '/');
    if (!rate) {
      if (const auto whole = parseWhole(text); whole && *whole > 0) {
        rate = std::pair{*whole, 1};
      }
    }
    if (!rate) {
      throw bad("pictures per second as NUM or NUM/DEN (24000/1001)");
    }
    std::tie(pairs.frameRateNum, pairs.frameRateDen) = *rate;
  } else if (arg == "--eye-order") {
    if (text != "left-first" && text != "right-first") {
      throw bad("left-first or right-first");
    }
    pairs.rightFirst = text == "right-first";
  } else if (arg == "--sound") {
    sound = text;
  } else if (arg == "--pairs") {
    const auto count = parseWhole(text);
    if (!count || *count < 0) {
      throw bad("a count of frame pairs");
    }
    pairs.expectedPairs = *count;
  } else {
    return false;
  }
  sawPairOption = true;
  return true;
}

} // namespace

ConversionRequest parseArguments(int argc, const char *const *argv) {
  std::vector<std::string_view> positional;
  ConversionRequest request;
  PairFormat pairs;
  bool sawPairOption = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!arg.starts_with("--")) {
      positional.push_back(arg);
      continue;
    }
    if (i + 1 >= argc) {
      throw std::invalid_argument(std::string(arg) + " needs a value");
    }
    const std::string_view text = argv[++i];
    if (applyPairOption(arg, text, pairs, request.soundSource, sawPairOption)) {
      continue;
    }
    const auto value = parseNumber(text);
    const auto bad = [&](const char *range) {
      return std::invalid_argument(std::string(arg) + " must be " + range + ", not " + std::string(text));
    };
    if (arg == "--baseline-mm") {
      if (!value || *value <= 0 || *value > 1000) {
        throw bad("a distance in millimetres above 0 and at most 1000");
      }
      request.stereo.baselineMicrometres = static_cast<std::uint32_t>(std::lround(*value * 1000));
    } else if (arg == "--hfov-degrees") {
      if (!value || *value <= 0 || *value >= 180) {
        throw bad("an angle in degrees above 0 and below 180");
      }
      request.stereo.fieldOfViewMilliDegrees = static_cast<std::uint32_t>(std::lround(*value * 1000));
    } else if (arg == "--disparity-adjustment") {
      if (!value || *value < -10000 || *value > 10000 || *value != std::trunc(*value)) {
        throw bad("a whole number from -10000 to 10000 (ten-thousandths of the picture width)");
      }
      request.stereo.disparityAdjustment = static_cast<std::int32_t>(*value);
    } else {
      throw std::invalid_argument("unknown option " + std::string(arg) + "\n" + kUsage);
    }
  }
  if (positional.size() != 3 && positional.size() != 4) {
    throw std::invalid_argument(kUsage);
  }
  request.input = positional[0];
  if (request.input == "-") {
    if (pairs.viewWidth == 0 || pairs.frameRateNum == 0) {
      throw std::invalid_argument("frame pairs on standard input need --view-size and --frame-rate");
    }
    request.pairs = pairs;
  } else if (sawPairOption) {
    throw std::invalid_argument("--view-size, --frame-rate, --eye-order, --sound and --pairs describe frame pairs "
                                "on standard input; give - as INPUT to use them");
  }
  request.output = positional[1];
  const auto quality = parseNumber(positional[2]);
  if (!quality || *quality <= 0 || *quality > 1) {
    throw std::invalid_argument("QUALITY must be a number above 0 and at most 1, not " + std::string(positional[2]));
  }
  request.quality = *quality;
  if (positional.size() == 4) {
    const auto cap = parseNumber(positional[3]);
    if (!cap || *cap < 1 || *cap > 1000) {
      throw std::invalid_argument("CAP must be megabits per second between 1 and 1000, not " +
                                  std::string(positional[3]));
    }
    request.capMbps = static_cast<int>(std::lround(*cap));
  }
  return request;
}

namespace {

// The pictures (and the sound that goes with them) the request names. Remarks go to `notes`.
std::unique_ptr<PictureSource> openSource(const ConversionRequest &request, std::ostream &notes, std::stop_token stop) {
  if (!request.pairs) {
    auto source = std::make_unique<FrameSource>(request.input);
    if (!source->skippedAudioCodec().empty()) {
      notes << "MVHEVCConverter: the first audio track is " << source->skippedAudioCodec()
            << ", not AAC; the output has no sound\n";
    }
    return source;
  }
  std::unique_ptr<SoundSource> sound;
  if (!request.soundSource.empty()) {
    sound = std::make_unique<SoundSource>(request.soundSource);
    if (!sound->audio()) {
      notes << "MVHEVCConverter: " << request.soundSource << " has no audio track; the output has no sound\n";
    } else if (!sound->convertedFrom().empty()) {
      notes << "MVHEVCConverter: converting the " << sound->convertedFrom() << " sound to AAC\n";
    }
  }
  return std::make_unique<PairSource>(STDIN_FILENO, *request.pairs, std::move(sound), std::move(stop));
}

} // namespace

void convert(const ConversionRequest &request, std::ostream &progressOut, std::ostream &notes, std::stop_token stop) {
  const auto source = openSource(request, notes, stop);
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

  PartialFile partial(request.output);
  MovWriter writer(partial.path(), source->audio());
  Progress progress(progressOut, video.expectedFrames);
  VideoTrackSetup setup;
  Encoding encoding{*source, writer, progress, stop, request.dumpPrefix};
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
  setup.width = settings.width;
  setup.height = settings.height;
  std::tie(setup.timescale, setup.sampleDelta) = timing(video.frameRateNum, video.frameRateDen);
  setup.stereo = request.stereo;
  writer.finish(setup);
  if (stop.stop_requested()) {
    throw Cancelled();
  }
  partial.commit();
}

std::string_view encoderDescription() {
  return kMultiviewEncoder ? "x265 two-view encoder, layer 1 predicted from layer 0"
                           : "two single-view encodes joined (this libx265 cannot encode MV-HEVC)";
}

} // namespace kestrova::mvhevc
