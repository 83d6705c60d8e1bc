#include "BurnInOptions.h"

#include <charconv>
#include <stdexcept>
#include <string>

namespace kestrova::subtitles {
namespace {

std::optional<int> wholeNumber(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

} // namespace

bool applyBurnInOption(std::string_view arg, std::string_view value, BurnInOptions &options) {
  const auto bad = [&](const char *what) {
    return std::invalid_argument(std::string(arg) + " must be " + what + ", not " + std::string(value));
  };
  if (arg == "--subtitles") {
    options.subtitles = std::string(value);
  } else if (arg == "--subtitle-offsets") {
    options.depth.offsets = std::string(value);
  } else if (arg == "--subtitle-plane") {
    const auto plane = wholeNumber(value);
    if (!plane || *plane < 0 || *plane > 31) {
      throw bad("an offset sequence number from 0 to 31");
    }
    options.depth.plane = *plane;
  } else if (arg == "--subtitle-depth") {
    const auto depth = wholeNumber(value);
    if (!depth || *depth < -128 || *depth > 127) {
      throw bad("pixels from -128 to 127 (positive: in front of the screen)");
    }
    options.depth.fixedDepth = *depth;
  } else if (arg == "--subtitle-first-frame") {
    const auto first = wholeNumber(value);
    if (!first || *first < 0) {
      throw bad("the film's display frame the first pair is, from 0");
    }
    options.firstFrame = static_cast<std::size_t>(*first);
  } else {
    return false;
  }
  return true;
}

void checkBurnInOptions(const BurnInOptions &options) {
  const auto &depth = options.depth;
  if (options.subtitles.empty() &&
      (!depth.offsets.empty() || depth.plane || depth.fixedDepth != kDefaultFixedDepth || options.firstFrame != 0)) {
    throw std::invalid_argument("--subtitle-offsets, --subtitle-plane, --subtitle-depth and --subtitle-first-frame "
                                "place the track --subtitles FILE.sup names; give it");
  }
}

std::optional<std::pair<int, int>> parseFrameRate(std::string_view text) {
  const auto slash = text.find('/');
  const auto num = wholeNumber(text.substr(0, slash));
  const auto den = slash == std::string_view::npos ? std::optional<int>(1) : wholeNumber(text.substr(slash + 1));
  if (!num || !den || *num <= 0 || *den <= 0) {
    return std::nullopt;
  }
  return std::pair{*num, *den};
}

} // namespace kestrova::subtitles
