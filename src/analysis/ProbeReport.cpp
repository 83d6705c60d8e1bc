#include "analysis/ProbeReport.h"

#include "analysis/JsonFields.h"
#include "analysis/StereoDetection.h"
#include "core/Utf8.h"

#include <charconv>
#include <cmath>
#include <fmt/format.h>

namespace kestrova::analysis {

namespace {

// The frame rate from "N/D" when both pieces are whole decimal numbers, D >= 1.
std::optional<std::pair<std::int64_t, std::int64_t>> parseFrameRate(const std::string &text) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t slash = text.find('/', start);
    std::string piece = text.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!piece.empty())
      pieces.push_back(piece);
    if (slash == std::string::npos)
      break;
    start = slash + 1;
  }
  if (pieces.size() != 2)
    return std::nullopt;
  std::int64_t values[2];
  for (int i = 0; i < 2; ++i) {
    const std::string &piece = pieces[static_cast<std::size_t>(i)];
    auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), values[i]);
    if (error != std::errc() || end != piece.data() + piece.size())
      return std::nullopt;
  }
  if (values[1] < 1)
    return std::nullopt;
  return std::make_pair(values[0], values[1]);
}

// The first `count` characters of UTF-8 `text`, cut between characters, not
// inside one.
std::string firstCharacters(const std::string &text, int count) {
  std::size_t cut = 0;
  for (int characters = 0; cut < text.size() && characters < count; ++characters) {
    ++cut;
    while (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
      ++cut;
  }
  return text.substr(0, cut);
}

// The film's picture facts from its picture stream: size, rate and duration.
void takePicture(SourceFileInfo &info, const nlohmann::json &stream, std::int64_t width, std::int64_t height,
                 const LogFn &say) {
  info.resolution = fmt::format("{}x{}", width, height);
  info.videoWidth = width;
  info.videoHeight = height;
  if (auto rateText = stringField(stream, "r_frame_rate")) {
    if (auto rate = parseFrameRate(*rateText)) {
      say(fmt::format("  Frame rate: {} ({:.2f} fps)", *rateText,
                      static_cast<double>(rate->first) / static_cast<double>(rate->second)));
      info.frameRateNum = rate->first;
      info.frameRateDen = rate->second;
    }
  }
  // A transport stream's own duration runs to its last packet, often sound
  // that outlasts the pictures; the view's duration is what gets converted.
  if (double seconds = parseDurationSeconds(stringField(stream, "duration").value_or("")); seconds > 0)
    info.duration = seconds;
}

} // namespace

double parseDurationSeconds(const std::string &text) {
  double value = 0.0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return 0.0;
  return value;
}

std::optional<SourceFileInfo> readProbeReport(std::string_view report, const std::filesystem::path &url,
                                              const LogFn &log) {
  const LogFn say = [&log](const std::string &line) {
    if (log)
      log(line);
  };
  std::string text = isValidUtf8(report) ? std::string(report) : std::string("{}");
  nlohmann::json root = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!root.is_object()) {
    say("ERROR: Failed to parse ffprobe JSON output");
    say("Raw output (first 500 chars): " + firstCharacters(text, 500));
    return std::nullopt;
  }

  const nlohmann::json &format = objectField(root, "format");
  SourceFileInfo info;
  info.url = url;
  info.fileName = url.filename().string();
  info.duration = parseDurationSeconds(stringField(format, "duration").value_or("0"));
  info.title = stringField(objectField(format, "tags"), "title").value_or(info.fileName);
  info.resolution = "Unknown";
  info.videoWidth = 1920;
  info.videoHeight = 1080;
  info.frameRateNum = 24000;
  info.frameRateDen = 1001;

  auto streams = root.find("streams");
  if (streams == root.end() || !isArrayOfObjects(*streams))
    return info;

  say(fmt::format("Found {} streams total", streams->size()));
  StereoDetector detector(log);
  // The picture is the first video stream with a size: a disc's MVC view is
  // listed after it without size and with the transport's 90 kHz clock as its
  // rate, and must not override the base view's size, rate or duration.
  bool havePicture = false;
  for (const auto &stream : *streams) {
    std::string codecType = stringField(stream, "codec_type").value_or("?");
    auto width = integerField(stream, "width").value_or(0);
    auto height = integerField(stream, "height").value_or(0);
    say(fmt::format("  Stream {}: {} {} {}x{} profile={}", integerField(stream, "index").value_or(-1), codecType,
                    stringField(stream, "codec_name").value_or("?"), width, height,
                    stringField(stream, "profile").value_or("none")));
    detector.visit(stream);
    if (codecType == "subtitle") {
      const auto language = stringField(objectField(stream, "tags"), "language");
      info.subtitleLanguages.push_back(language && language->size() == 3 ? *language : "und");
      info.subtitleForced.push_back(integerField(objectField(stream, "disposition"), "forced").value_or(0) != 0);
    }
    if (codecType != "video")
      continue;
    detector.addVideoStream(stream);
    if (havePicture || width < 1 || height < 1)
      continue;
    havePicture = true;
    takePicture(info, stream, width, height, say);
  }
  StereoDecision decision = detector.decide();
  info.stereoMode = decision.mode;
  info.hasMVCStream = decision.hasMVCStream;
  info.mvcTrackIndex = decision.mvcTrackIndex;
  return info;
}

} // namespace kestrova::analysis
