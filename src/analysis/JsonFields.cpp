#include "analysis/JsonFields.h"

#include <algorithm>

namespace kestrova::analysis {

namespace {
const nlohmann::json &emptyObject() {
  static const nlohmann::json empty = nlohmann::json::object();
  return empty;
}
} // namespace

std::optional<std::string> stringField(const nlohmann::json &object, const char *key) {
  if (!object.is_object())
    return std::nullopt;
  auto it = object.find(key);
  if (it == object.end() || !it->is_string())
    return std::nullopt;
  return it->get<std::string>();
}

std::optional<std::int64_t> integerField(const nlohmann::json &object, const char *key) {
  if (!object.is_object())
    return std::nullopt;
  auto it = object.find(key);
  if (it == object.end())
    return std::nullopt;
  if (it->is_number_integer())
    return it->get<std::int64_t>();
  if (it->is_number_unsigned() && it->get<std::uint64_t>() <= static_cast<std::uint64_t>(INT64_MAX))
    return static_cast<std::int64_t>(it->get<std::uint64_t>());
  return std::nullopt;
}

const nlohmann::json &objectField(const nlohmann::json &object, const char *key) {
  if (!object.is_object())
    return emptyObject();
  auto it = object.find(key);
  return it != object.end() && it->is_object() ? *it : emptyObject();
}

bool isArrayOfObjects(const nlohmann::json &value) {
  return value.is_array() && std::all_of(value.begin(), value.end(), [](const auto &v) { return v.is_object(); });
}

std::string lowercased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return text;
}

} // namespace kestrova::analysis
