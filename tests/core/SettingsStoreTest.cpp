#include "core/SettingsStore.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sstream>
#include <unistd.h>

namespace kestrova {
namespace {
namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(SettingsStore, MissingFileReadsEmptyAndFirstWriteCreatesIt) {
  TempDir dir;
  fs::path file = dir / "cfg/kestrova/settings.json";
  SettingsStore store(file);
  EXPECT_FALSE(store.contains("qualityPreset"));
  EXPECT_FALSE(fs::exists(file));
  ASSERT_TRUE(store.set("qualityPreset", "Balanced"));
  auto onDisk = nlohmann::json::parse(readFile(file));
  EXPECT_EQ(onDisk["qualityPreset"], "Balanced");
  SettingsStore reread(file);
  EXPECT_EQ(reread.string("qualityPreset"), "Balanced");
}

TEST(SettingsStore, InvalidFileIsMovedAsideReportedOnceAndNeverOverwritten) {
  const char *contents[] = {"{not json", "[1,2,3]", "\"text\"", ""};
  for (const char *content : contents) {
    TempDir dir;
    fs::path file = dir / "settings.json";
    writeFile(file, content);
    std::ostringstream diagnostics;
    SettingsStore store(file, &diagnostics);
    EXPECT_FALSE(store.contains("qualityPreset"));
    EXPECT_NE(diagnostics.str().find("not valid JSON"), std::string::npos) << content;
    int asideCount = 0;
    for (const auto &entry : fs::directory_iterator(dir.path()))
      if (entry.path().filename().string().starts_with("settings.json.invalid-")) {
        ++asideCount;
        EXPECT_EQ(readFile(entry.path()), content);
      }
    EXPECT_EQ(asideCount, 1) << content;
    store.set("outputCodec", "H.264");
    EXPECT_EQ(nlohmann::json::parse(readFile(file))["outputCodec"], "H.264");
    std::string reported = diagnostics.str();
    EXPECT_EQ(std::count(reported.begin(), reported.end(), '\n'), 1);
  }
}

TEST(SettingsStore, UnwritableLocationIsReportedAndKeptInMemory) {
  TempDir dir;
  writeFile(dir / "file", "a file where the folder should be: not even root writes there");
  std::ostringstream diagnostics;
  SettingsStore store(dir / "file/settings.json", &diagnostics);
  EXPECT_FALSE(store.set("qualityPreset", "Balanced"));
  EXPECT_EQ(store.string("qualityPreset"), "Balanced");
  EXPECT_FALSE(diagnostics.str().empty());
}

TEST(SettingsStore, DefaultPathFollowsXdgConfigHome) {
  const char *saved = std::getenv("XDG_CONFIG_HOME");
  std::string savedValue = saved ? saved : "";
  ::setenv("XDG_CONFIG_HOME", "/x/config", 1);
  EXPECT_EQ(SettingsStore::defaultPath(), fs::path("/x/config/kestrova/settings.json"));
  ::unsetenv("XDG_CONFIG_HOME");
  const char *home = std::getenv("HOME");
  std::string savedHome = home ? home : "";
  if (home) {
    EXPECT_EQ(SettingsStore::defaultPath(), fs::path(home) / ".config/kestrova/settings.json");
  }
  // Without HOME the password database names the home.
  ::unsetenv("HOME");
  const passwd *entry = ::getpwuid(::getuid());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(SettingsStore::defaultPath(), fs::path(entry->pw_dir) / ".config/kestrova/settings.json");
  if (home)
    ::setenv("HOME", savedHome.c_str(), 1);
  if (saved)
    ::setenv("XDG_CONFIG_HOME", savedValue.c_str(), 1);
}

} // namespace
} // namespace kestrova
