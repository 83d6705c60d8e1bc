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

bool booleanOf(const nlohmann::json &value) {
  if (value.is_boolean())
    return value.get<bool>();
  if (value.is_number())
    return value.get<double>() != 0.0;
  return false;
}

} // namespace

void ConverterModel::loadSettings() {
  SettingsStore &store = *env_.settings;
  if (auto directory = store.string(SettingsStore::kOutputDirectory)) {
    std::error_code error;
    if (std::filesystem::exists(*directory, error))
      setOutputDirectory(std::filesystem::path(*directory));
  }
  if (auto text = store.string(SettingsStore::kQualityPreset))
    if (auto preset = parseRaw<QualityPreset>(*text))
      setQualityPreset(*preset);
  if (auto text = store.string(SettingsStore::kOutputCodec))
    if (auto codec = parseRaw<OutputCodec>(*text))
      setOutputCodec(*codec);
  if (auto text = store.string(SettingsStore::kOutputTarget))
    if (auto target = parseRaw<OutputTarget>(*text))
      setOutputTarget(*target);
  if (auto value = store.value(SettingsStore::kDurationLimit))
    setDebugLimitSeconds(integerOf(*value));
  if (auto value = store.value(SettingsStore::kKeepSBSIntermediate))
    setKeepSBSIntermediate(booleanOf(*value));
  isInitialized_ = true;
}

} // namespace kestrova::app
