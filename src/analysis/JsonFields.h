#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace kestrova::analysis {

// ffprobe's report is read field by field with fixed JSON types: a field of
// another type counts as missing. These helpers make that the only way to
// read it.

/// `object[key]` when `object` is an object holding a string there.
std::optional<std::string> stringField(const nlohmann::json &object, const char *key);
/// `object[key]` when it is an integer that fits 64 bits (not a float, not a bool).
std::optional<std::int64_t> integerField(const nlohmann::json &object, const char *key);
/// `object[key]` when it is an object; else an empty object.
const nlohmann::json &objectField(const nlohmann::json &object, const char *key);

/// True for an array whose every element is an object.
bool isArrayOfObjects(const nlohmann::json &value);

/// `text` lower-cased (ASCII only).
std::string lowercased(std::string text);

} // namespace kestrova::analysis
