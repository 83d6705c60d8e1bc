#include "pipeline/ViewDamage.h"

#include "pipeline/PipelineEngine.h"
#include "pipeline/StreamDecoderChoice.h"

#include <charconv>
#include <fmt/format.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;
namespace {

std::optional<std::int64_t> number(std::string_view text) {
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0)
    return std::nullopt;
  return value;
}

/// One "lost pairs A to B: REASON" line, without the program's prefix.
std::optional<LostStretch> lostStretch(std::string_view line) {
  constexpr std::string_view opening = "lost pairs ";
  if (!line.starts_with(opening))
    return std::nullopt;
  line.remove_prefix(opening.size());
  const auto to = line.find(" to ");
  const auto colon = line.find(": ");
  if (to == std::string_view::npos || colon == std::string_view::npos || colon < to)
    return std::nullopt;
  auto first = number(line.substr(0, to));
  auto end = number(line.substr(to + 4, colon - to - 4));
  if (!first || !end || *end <= *first)
    return std::nullopt;
  return LostStretch{*first, *end, std::string(line.substr(colon + 2))};
}

} // namespace

ViewDamage parseLocateReport(std::string_view text) {
  ViewDamage damage;
  const std::string prefix = std::string(kFastStreamDecoder) + ": ";
  while (!text.empty()) {
    const auto newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    if (!line.starts_with(prefix))
      continue;
    line.remove_prefix(prefix.size());
    if (auto stretch = lostStretch(line)) {
      damage.lost.push_back(std::move(*stretch));
    } else if (line.ends_with(" pictures")) {
      if (auto pictures = number(line.substr(0, line.size() - 9)))
        damage.pictures = *pictures;
    }
  }
  return damage;
}

std::optional<ViewDamage> locateViewDamage(PipelineEngine &engine, const std::filesystem::path &base,
                                           const std::filesystem::path &mvc) {
  const auto fast = engine.findTool(kFastStreamDecoder);
  if (!fast || engine.isCancelled())
    return std::nullopt;
  engine.log("Looking for the damaged pictures of the 3D view\u2026");
  tools::ProcessLaunch launch;
  launch.executable = *fast;
  launch.arguments = {"--locate", "--views", base.string(), mvc.string()};
  launch.standardOutput = tools::StreamMode::discard;
  std::string report;
  try {
    auto process = engine.createCurrentProcess(std::move(launch));
    tools::runAndStreamLines(*process, {}, [&report](std::string_view line) {
      report.append(line);
      report += '\n';
    });
  } catch (const tools::LaunchError &) {
    return std::nullopt;
  }
  ViewDamage damage = parseLocateReport(report);
  if (engine.isCancelled() || damage.lost.empty() || damage.pictures <= 0)
    return std::nullopt;
  return damage;
}

std::string pictureTimeText(double seconds) {
  const auto whole = static_cast<std::int64_t>(seconds);
  return fmt::format("{}:{:02}:{:05.2f}", whole / 3600, whole / 60 % 60,
                     seconds - static_cast<double>(whole / 60 * 60));
}

std::string damageText(const ViewDamage &damage, double framesPerSecond) {
  std::string text = "the 3D view is damaged";
  const char *separator = " ";
  for (const auto &stretch : damage.lost) {
    text += fmt::format("{}from {} to {} (pictures {} to {} of {})", separator,
                        pictureTimeText(static_cast<double>(stretch.first) / framesPerSecond),
                        pictureTimeText(static_cast<double>(stretch.end) / framesPerSecond), stretch.first + 1,
                        stretch.end, damage.pictures);
    separator = ", and ";
  }
  return text;
}

ConversionError damagedViewError(PipelineEngine &engine, const ViewFiles &views, double framesPerSecond,
                                 const std::string &decoders) {
  std::error_code ec;
  std::optional<ViewDamage> damage;
  if (fs::exists(views.base, ec) && fs::exists(views.mvc, ec))
    damage = locateViewDamage(engine, views.base, views.mvc);
  if (engine.isCancelled())
    return ConversionError::cancelled();
  if (!damage)
    return ConversionError::decodingFailed("the source's 3D view is damaged: neither decoder can read it, so "
                                           "nothing was made (" +
                                           decoders + ")");
  return ConversionError::decodingFailed(damageText(*damage, framesPerSecond) +
                                         ": neither decoder can read those pictures, so nothing was made (" + decoders +
                                         ")");
}

} // namespace kestrova::pipeline
