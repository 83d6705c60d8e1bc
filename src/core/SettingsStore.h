#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova {

/// The user's settings: one JSON object in one file, shared by the window and
/// the command-line mode. Read once at construction; every change is written
/// at once, atomically (temporary file + rename). A file that is not a JSON
/// object reads as empty and is moved aside under a new name, reported once on
/// the diagnostics stream; it is never silently overwritten.
class SettingsStore {
public:
  /// The keys the program stores.
  static constexpr const char *kOutputDirectory = "outputDirectory";
  static constexpr const char *kQualityPreset = "qualityPreset";
  static constexpr const char *kOutputCodec = "outputCodec";
  static constexpr const char *kOutputTarget = "outputTarget";
  static constexpr const char *kDurationLimit = "durationLimit";
  static constexpr const char *kKeepSBSIntermediate = "keepSBSIntermediate";
  /// Pixels in front of the screen for burned-in subtitles without depth.
  static constexpr const char *kSubtitleDepth = "subtitleDepth";
  static constexpr const char *kChunkSeconds = "chunkSeconds";
  static constexpr const char *kJobs = "jobs";
  static constexpr const char *kHosts = "hosts";
  static constexpr const char *kRemoteOnly = "remoteOnly";

  explicit SettingsStore(std::filesystem::path file, std::ostream *diagnostics = nullptr);

  /// $XDG_CONFIG_HOME/kestrova/settings.json, else ~/.config/kestrova/settings.json
  /// (the home as homeDirectory() finds it); NoHomeError when there is none.
  static std::filesystem::path defaultPath();

  const std::filesystem::path &path() const { return file_; }

  /// Whether anything at all is stored under `key`.
  bool contains(std::string_view key) const;
  /// The stored value, whatever its type.
  std::optional<nlohmann::json> value(std::string_view key) const;
  /// The stored value when it is a string.
  std::optional<std::string> string(std::string_view key) const;
  /// The stored value when it is true or false. Anything else stored under
  /// `key` (the text "false", a number) reads as false and is reported on the
  /// diagnostics stream, naming the key.
  std::optional<bool> boolean(std::string_view key) const;

  /// Reports a problem with the stored settings on the diagnostics stream,
  /// prefixed with the file's name.
  void warn(const std::string &problem) const;

  /// Stores `value` and writes the file. Returns false (and reports on the
  /// diagnostics stream) when the file cannot be written; the value is kept
  /// in memory either way.
  bool set(std::string_view key, nlohmann::json value);
  bool remove(std::string_view key);

private:
  void load();
  bool save();
  void report(const std::string &message) const;

  std::filesystem::path file_;
  std::ostream *diagnostics_;
  nlohmann::json values_ = nlohmann::json::object();
};

} // namespace kestrova
