// Reading the stored settings over the defaults. Every key is read on its
// own: a missing, mistyped or unknown value leaves that one default alone.
#include "app/ConverterModel.h"

#include <cmath>
#include <system_error>

namespace kestrova::app {

namespace {

// Any stored object counts; one that is not a number reads as 0 (the whole
// source) rather than being rejected.
std::int64_t integerOf(const nlohmann::json &value) {
  if (value.is_number_integer())
    return value.get<std::int64_t>();
  if (value.is_number_float()) {
    double number = value.get<double>();
    return std::isfinite(number) && std::fabs(number) < 9.0e18 ? static_cast<std::int64_t>(number) : 0;
  }
  if (value.is_boolean())
    return value.get<bool>() ? 1 : 0;
  return 0;
}

// The stored text under `key` when it is one of the enumeration's texts;
// anything else stored there is reported and leaves the default alone.
template <class E> std::optional<E> storedChoice(const SettingsStore &store, const char *key) {
  auto stored = store.value(key);
  if (!stored)
    return std::nullopt;
  if (stored->is_string())
    if (auto value = parseRaw<E>(stored->get<std::string>()))
      return value;
  store.warn(std::string(key) + " is " + stored->dump() + ", which names no known setting; keeping the default");
  return std::nullopt;
}

} // namespace

void ConverterModel::loadSettings() {
  SettingsStore &store = *env_.settings;
  if (auto directory = store.string(SettingsStore::kOutputDirectory)) {
    std::error_code error;
    if (std::filesystem::exists(*directory, error))
      setOutputDirectory(std::filesystem::path(*directory));
  }
  if (auto preset = storedChoice<QualityPreset>(store, SettingsStore::kQualityPreset))
    setQualityPreset(*preset);
  if (auto codec = storedChoice<OutputCodec>(store, SettingsStore::kOutputCodec))
    setOutputCodec(*codec);
  if (auto target = storedChoice<OutputTarget>(store, SettingsStore::kOutputTarget))
    setOutputTarget(*target);
  if (auto value = store.value(SettingsStore::kDurationLimit))
    setDebugLimitSeconds(integerOf(*value));
  if (auto keep = store.boolean(SettingsStore::kKeepSBSIntermediate))
    setKeepSBSIntermediate(*keep);
  if (auto depth = store.value(SettingsStore::kSubtitleDepth);
      depth && depth->is_number_integer() && depth->get<std::int64_t>() >= -128 && depth->get<std::int64_t>() <= 127)
    subtitleDepth_ = depth->get<int>();
  const ChunkingOptions stored = storedChunking(store);
  chunking_.chunkSeconds = stored.chunkSeconds;
  assign(chunking_.jobs, stored.jobs, ModelField::chunkJobs);
  assign(chunking_.hosts, stored.hosts, ModelField::hostsFile);
  assign(chunking_.remoteOnly, stored.remoteOnly, ModelField::remoteOnly);
  isInitialized_ = true;
}

} // namespace kestrova::app
