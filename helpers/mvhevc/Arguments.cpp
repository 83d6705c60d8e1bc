#include "Arguments.h"

#include "BurnInOptions.h"
#include "Language.h"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string_view>

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

constexpr const char *kUsage =
    "usage: MVHEVCConverter INPUT OUTPUT QUALITY [CAP] [--baseline-mm MM] "
    "[--hfov-degrees DEGREES] [--disparity-adjustment N] [--threads N]\n"
    "       [--layout full-sbs|half-sbs|full-tab|half-tab] [--eye-order left-first|right-first] [--frames N]\n"
    "       [--audio FILE [--audio-stream N] [--audio-language LLL]]... [--chapters FILE]\n"
    "       MVHEVCConverter - OUTPUT QUALITY [CAP] --view-size WxH --frame-rate NUM[/DEN] "
    "[--eye-order left-first|right-first] [--pairs N]\n"
    "         [--subtitles FILE.sup [--subtitle-offsets VIEW] [--subtitle-plane K] "
    "[--subtitle-depth PIXELS] [--subtitle-first-frame N]]\n"
    "         [stereo, sound and chapter options]\n"
    "       MVHEVCConverter INPUT|- CHUNK.hevc QUALITY [CAP] --chunk [picture options]\n"
    "       MVHEVCConverter --join OUTPUT CHUNK.hevc... [stereo, sound and chapter options]";

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
bool applyPairOption(std::string_view arg, std::string_view text, PairFormat &pairs, bool &sawPairOption) {
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
    return true; // the eye order of either input
  } else if (arg == "--pairs") {
    const auto count = parseWhole(text);
    if (!count || *count < 0) {
      throw bad("a count of frame pairs");
    }
    pairs.expectedPairs = *count;
  } else if (subtitles::applyBurnInOption(arg, text, pairs.burnIn)) {
    // burned into the pairs' views, so only with pairs on standard input
  } else {
    return false;
  }
  sawPairOption = true;
  return true;
}

PackedLayout packedLayout(std::string_view text) {
  using Packing = PackedLayout::Packing;
  if (text == "full-sbs" || text == "half-sbs" || text == "full-tab" || text == "half-tab") {
    return {text.ends_with("tab") ? Packing::topAndBottom : Packing::sideBySide, text.starts_with("half"), false};
  }
  throw std::invalid_argument("--layout must be full-sbs, half-sbs, full-tab or half-tab, not " + std::string(text));
}

// The sound and chapter options; false when `arg` is not one of them.
bool applySoundOption(std::string_view arg, std::string_view text, ConversionRequest &request) {
  if (arg == "--audio" || arg == "--sound") {
    request.audio.push_back({std::string(text), std::nullopt, {}});
    return true;
  }
  if (arg == "--chapters") {
    request.chapters = text;
    return true;
  }
  if (arg != "--audio-stream" && arg != "--audio-language") {
    return false;
  }
  if (request.audio.empty()) {
    throw std::invalid_argument(std::string(arg) + " applies to the --audio FILE before it; there is none");
  }
  auto &track = request.audio.back();
  if (arg == "--audio-stream") {
    const auto index = parseWhole(text);
    if (!index || *index < 0 || track.stream) {
      throw std::invalid_argument("--audio-stream must be given once per --audio, as a stream index from 0, not " +
                                  std::string(text));
    }
    track.stream = *index;
  } else {
    if (!looksLikeIsoLanguage(text) || !track.language.empty()) {
      throw std::invalid_argument("--audio-language must be given once per --audio, as an ISO 639-2 code "
                                  "(eng, fra), not " +
                                  std::string(text));
    }
    track.language = isoLanguage(text);
  }
  return true;
}

// The stereo and picture options given as numbers; false when `arg` is not one of them.
bool applyNumberOption(std::string_view arg, std::string_view text, ConversionRequest &request) {
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
  } else if (arg == "--frames") {
    if (!value || *value < 1 || *value != std::trunc(*value) || *value > 1e12) {
      throw bad("a whole number of pictures above 0");
    }
    request.frameLimit = static_cast<std::int64_t>(*value);
  } else if (arg == "--threads") {
    if (!value || *value < 1 || *value > 256 || *value != std::trunc(*value)) {
      throw bad("a whole number of worker threads from 1 to 256");
    }
    request.threads = static_cast<int>(*value);
  } else if (arg == "--disparity-adjustment") {
    if (!value || *value < -10000 || *value > 10000 || *value != std::trunc(*value)) {
      throw bad("a whole number from -10000 to 10000 (ten-thousandths of the picture width)");
    }
    request.stereo.disparityAdjustment = static_cast<std::int32_t>(*value);
  } else {
    return false;
  }
  return true;
}

// The positional QUALITY and, when given, CAP.
void applyQuality(ConversionRequest &request, std::string_view quality, std::optional<std::string_view> cap) {
  const auto value = parseNumber(quality);
  if (!value || *value <= 0 || *value > 1) {
    throw std::invalid_argument("QUALITY must be a number above 0 and at most 1, not " + std::string(quality));
  }
  request.quality = *value;
  if (cap) {
    const auto megabits = parseNumber(*cap);
    if (!megabits || *megabits < 1 || *megabits > 1000) {
      throw std::invalid_argument("CAP must be megabits per second between 1 and 1000, not " + std::string(*cap));
    }
    request.capMbps = static_cast<int>(std::lround(*megabits));
  }
}

/// The command line's words: options applied to the request as they come,
/// the rest kept in order.
struct CommandWords {
  std::vector<std::string_view> positional;
  PairFormat pairs;
  bool sawPairOption = false;
  bool sawLayout = false;
};

CommandWords readWords(int argc, const char *const *argv, ConversionRequest &request) {
  CommandWords words;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!arg.starts_with("--")) {
      words.positional.push_back(arg);
      continue;
    }
    if (arg == "--chunk" || arg == "--join") {
      (arg == "--chunk" ? request.chunk : request.join) = true;
      continue;
    }
    if (i + 1 >= argc) {
      throw std::invalid_argument(std::string(arg) + " needs a value");
    }
    const std::string_view text = argv[++i];
    if (arg == "--layout") {
      request.layout = packedLayout(text);
      words.sawLayout = true;
      continue;
    }
    if (applyPairOption(arg, text, words.pairs, words.sawPairOption) || applySoundOption(arg, text, request)) {
      continue;
    }
    if (!applyNumberOption(arg, text, request)) {
      throw std::invalid_argument("unknown option " + std::string(arg) + "\n" + kUsage);
    }
  }
  return words;
}

/// INPUT: a file, or frame pairs on standard input ("-") that the pair
/// options describe.
void takeInput(ConversionRequest &request, const CommandWords &words) {
  request.input = words.positional[0];
  if (request.input == "-") {
    if (words.pairs.viewWidth == 0 || words.pairs.frameRateNum == 0) {
      throw std::invalid_argument("frame pairs on standard input need --view-size and --frame-rate");
    }
    if (words.sawLayout) {
      throw std::invalid_argument("--layout describes a file INPUT; frame pairs on standard input are two views");
    }
    subtitles::checkBurnInOptions(words.pairs.burnIn);
    request.pairs = words.pairs;
  } else if (words.sawPairOption) {
    throw std::invalid_argument("--view-size, --frame-rate, --pairs and the --subtitle options describe frame pairs "
                                "on standard input; give - as INPUT to use them");
  }
  request.layout.rightFirst = words.pairs.rightFirst;
}

} // namespace

ConversionRequest parseArguments(int argc, const char *const *argv) {
  ConversionRequest request;
  const CommandWords words = readWords(argc, argv, request);
  const auto &positional = words.positional;
  if (request.join) {
    if (positional.size() < 2 || request.chunk || words.sawPairOption) {
      throw std::invalid_argument(kUsage);
    }
    request.output = positional[0];
    request.chunks.assign(positional.begin() + 1, positional.end());
    return request;
  }
  if (positional.size() != 3 && positional.size() != 4) {
    throw std::invalid_argument(kUsage);
  }
  takeInput(request, words);
  request.output = positional[1];
  if (request.chunk && (!request.audio.empty() || !request.chapters.empty())) {
    throw std::invalid_argument("--chunk takes no sound or chapters; they go in when the chunks are joined");
  }
  if (request.frameLimit > 0 && !request.audio.empty()) {
    throw std::invalid_argument("--frames takes the pictures of a film's piece, without sound");
  }
  applyQuality(request, positional[2], positional.size() == 4 ? std::optional(positional[3]) : std::nullopt);
  return request;
}

} // namespace kestrova::mvhevc
