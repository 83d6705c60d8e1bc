#include "cli/JobOptions.h"

#include <fmt/format.h>

namespace kestrova::cli {

namespace {

// The stored text under `key` read by `fromText`; a value that is not one of
// the enumeration's own texts is reported with what it reads as.
template <class E, class FromText>
E readChoice(const SettingsStore &store, const char *key, E fallback, FromText fromText) {
  auto stored = store.value(key);
  if (!stored)
    return fallback;
  E value = stored->is_string() ? fromText(stored->template get<std::string>()) : fallback;
  if (!stored->is_string() || !parseRaw<E>(stored->template get<std::string>())) {
    std::string known;
    for (E each : allCases<E>())
      known += (known.empty() ? "\"" : ", \"") + std::string(rawValue(each)) + "\"";
    store.warn(fmt::format("{} is {}, which is none of {}; making {}", key, stored->dump(), known, rawValue(value)));
  }
  return value;
}

} // namespace

StoredChoices readStoredChoices(const SettingsStore &store) {
  StoredChoices choices;
  choices.quality = readChoice(store, SettingsStore::kQualityPreset, choices.quality, qualityFromSetting);
  choices.target = readChoice(store, SettingsStore::kOutputTarget, choices.target, targetFromSetting);
  choices.keepSideBySide = store.boolean(SettingsStore::kKeepSBSIntermediate).value_or(false);
  if (auto depth = store.value(SettingsStore::kSubtitleDepth)) {
    if (depth->is_number_integer() && depth->get<std::int64_t>() >= -128 && depth->get<std::int64_t>() <= 127)
      choices.subtitleDepth = depth->get<int>();
    else
      store.warn(fmt::format("{} is {}, which is no whole number from -128 to 127; using {}",
                             SettingsStore::kSubtitleDepth, depth->dump(), choices.subtitleDepth));
  }
  choices.chunking = storedChunking(store);
  return choices;
}

ConversionJob jobFor(const CommandLine &line, const StoredChoices &stored, std::optional<std::int64_t> durationLimit,
                     const std::filesystem::path &source, const std::filesystem::path &output) {
  ConversionJob job;
  job.sourceURL = source;
  job.outputDirectory = output;
  job.qualityPreset = line.quality.value_or(stored.quality);
  job.outputCodec = line.codec.value_or(OutputCodec::h264);
  job.outputTarget = line.target.value_or(stored.target);
  job.keepSideBySide = line.keepSideBySide.value_or(stored.keepSideBySide);
  job.durationLimit = durationLimit;
  job.replaceExisting = line.overwrite;
  job.playlist = line.playlist;
  job.keepWork = line.keepWork;
  job.layout = line.layout;
  job.swapEyes = line.swapEyes;
  job.subtitles = {line.subtitles.value_or(""), line.subtitlePlane, line.subtitleDepth.value_or(stored.subtitleDepth)};
  job.chunking = stored.chunking;
  if (line.jobs)
    job.chunking.jobs = *line.jobs;
  if (line.hosts)
    job.chunking.hosts = *line.hosts;
  job.chunking.resume = !line.noResume;
  job.chunking.cutOnly = line.cutOnly;
  job.chunking.remoteOnly = line.remoteOnly || stored.chunking.remoteOnly;
  return job;
}

} // namespace kestrova::cli
