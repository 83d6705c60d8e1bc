#include "core/SettingsStore.h"

#include "core/HomeDirectory.h"

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace kestrova {
namespace fs = std::filesystem;

SettingsStore::SettingsStore(fs::path file, std::ostream *diagnostics)
    : file_(std::move(file)), diagnostics_(diagnostics ? diagnostics : &std::cerr) {
  load();
}

fs::path SettingsStore::defaultPath() {
  const char *config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config == '/')
    return fs::path(config) / "kestrova" / "settings.json";
  return requireHomeDirectory() / ".config" / "kestrova" / "settings.json";
}

bool SettingsStore::contains(std::string_view key) const {
  return values_.contains(key);
}

std::optional<nlohmann::json> SettingsStore::value(std::string_view key) const {
  auto it = values_.find(key);
  if (it == values_.end())
    return std::nullopt;
  return *it;
}

std::optional<std::string> SettingsStore::string(std::string_view key) const {
  auto it = values_.find(key);
  if (it == values_.end() || !it->is_string())
    return std::nullopt;
  return it->get<std::string>();
}

std::optional<bool> SettingsStore::boolean(std::string_view key) const {
  auto it = values_.find(key);
  if (it == values_.end())
    return std::nullopt;
  if (it->is_boolean())
    return it->get<bool>();
  warn(std::string(key) + " is " + it->dump() + ", not true or false; reading it as false");
  return false;
}

void SettingsStore::warn(const std::string &problem) const {
  report("Kestrova: settings file " + file_.string() + ": " + problem);
}

bool SettingsStore::set(std::string_view key, nlohmann::json value) {
  values_[std::string(key)] = std::move(value);
  return save();
}

bool SettingsStore::remove(std::string_view key) {
  values_.erase(std::string(key));
  return save();
}

void SettingsStore::load() {
  // Opening a FIFO for reading waits for a writer; anything but a regular
  // file is left alone.
  std::error_code typeError;
  auto status = fs::status(file_, typeError);
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    report("Kestrova: settings file " + file_.string() + " is not a regular file; using default settings");
    return;
  }
  std::ifstream in(file_, std::ios::binary);
  if (!in)
    return; // nothing stored yet
  std::ostringstream text;
  text << in.rdbuf();
  in.close();
  auto parsed = nlohmann::json::parse(text.str(), nullptr, /*allow_exceptions=*/false);
  if (parsed.is_object()) {
    values_ = std::move(parsed);
    return;
  }
  // Keep the unreadable file for the user instead of writing over it later.
  std::time_t now = std::time(nullptr);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
  fs::path aside = file_;
  aside += std::string(".invalid-") + stamp;
  for (int n = 1; fs::exists(aside); ++n) {
    aside = file_;
    aside += std::string(".invalid-") + stamp + "-" + std::to_string(n);
  }
  std::error_code ec;
  fs::rename(file_, aside, ec);
  if (ec)
    report("Kestrova: settings file " + file_.string() + " is not valid JSON and could not be moved aside (" +
           ec.message() + "); using default settings");
  else
    report("Kestrova: settings file " + file_.string() + " is not valid JSON; kept it as " + aside.string() +
           " and started with default settings");
}

bool SettingsStore::save() {
  std::error_code ec;
  fs::create_directories(file_.parent_path(), ec);
  fs::path temporary = file_;
  temporary += ".tmp-" + std::to_string(::getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << values_.dump(2) << '\n';
    out.flush();
    if (!out) {
      fs::remove(temporary, ec);
      report("Kestrova: could not write settings to " + temporary.string());
      return false;
    }
  }
  fs::rename(temporary, file_, ec);
  if (ec) {
    fs::remove(temporary, ec);
    report("Kestrova: could not save settings to " + file_.string() + ": " + ec.message());
    return false;
  }
  return true;
}

void SettingsStore::report(const std::string &message) const {
  *diagnostics_ << message << std::endl;
}

} // namespace kestrova
