#include "tools/ToolLocator.h"
#include "fakes/FakeToolFolder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kestrova::tools {
namespace {
namespace fs = std::filesystem;
using test::FakeToolFolder;
using test::TempDir;
using test::writeFile;

// A prefix with bin/ and share/kestrova/tools/, three fixed folders of the
// test's own and a `which` double, so nothing of the machine is looked at.
struct LocatorFixture {
  TempDir dir;
  FakeToolFolder fakes{dir / "fakes"};
  SystemPrograms programs;
  std::vector<std::string> fixed{(dir / "homebrew/").string(), (dir / "local/").string(), (dir / "usr/").string()};

  LocatorFixture() {
    programs.which = fakes.add("which").string();
    for (const auto &folder : fixed)
      fs::create_directories(folder);
    fs::create_directories(dir / "prefix/bin");
  }
  ToolLocator locator(BundlePaths paths) const { return ToolLocator(std::move(paths), programs, fixed); }
  void whichPrints(const std::string &text) { fakes.add("which", {{"steps", {{{"stdout", text}}}}}); }
};

TEST(ToolLocator, FirstExistingCandidateWins) {
  struct Row {
    const char *name;
    std::vector<std::string> present; // relative to the test folder
    std::string expected;             // relative; empty for none
  };
  const Row rows[] = {
      {"ffmpeg", {"prefix/share/kestrova/tools/ffmpeg", "local/ffmpeg"}, "prefix/bin/../share/kestrova/tools/ffmpeg"},
      {"ffmpeg", {"local/ffmpeg", "usr/ffmpeg"}, "local/ffmpeg"},
      {"ldecod", {"usr/ldecod"}, "usr/ldecod"},
      {"tsmuxer", {"homebrew/tsmuxer/"}, "homebrew/tsmuxer"}, // a directory counts
      {"MVHEVCConverter", {}, ""},
  };
  for (const auto &row : rows) {
    LocatorFixture f;
    for (const auto &entry : row.present) {
      if (entry.back() == '/')
        fs::create_directories(f.dir / entry);
      else
        writeFile(f.dir / entry, "not executable");
    }
    auto found = f.locator(BundlePaths::forPrefix((f.dir / "prefix").string())).findTool(row.name);
    if (row.expected.empty())
      EXPECT_EQ(found, std::nullopt) << row.name;
    else
      EXPECT_EQ(found, (f.dir / row.expected).string()) << row.name;
  }
}

TEST(ToolLocator, WhichFallback) {
  LocatorFixture f;
  writeFile(f.dir / "elsewhere/ldecod", "x");
  struct Row {
    std::string printed;
    std::optional<std::string> expected;
  };
  const std::vector<Row> rows = {
      {(f.dir / "elsewhere/ldecod").string() + "\n", (f.dir / "elsewhere/ldecod").string()},
      {(f.dir / "elsewhere/gone").string() + "\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto &row : rows) {
    f.whichPrints(row.printed);
    EXPECT_EQ(f.locator(BundlePaths{"", "/nonexistent", ""}).findTool("ldecod"), row.expected) << row.printed;
  }
  f.programs.which = (f.dir / "missing-which").string(); // cannot start
  EXPECT_EQ(f.locator(BundlePaths{"", "/nonexistent", ""}).findTool("ldecod"), std::nullopt);
}

TEST(ToolLocator, EveryLookupSearchesAgain) {
  LocatorFixture f;
  auto locator = f.locator(BundlePaths{"", "/nonexistent", ""});
  EXPECT_EQ(locator.findTool("yuv_hstack"), std::nullopt);
  writeFile(f.dir / "local/yuv_hstack", "x");
  EXPECT_EQ(locator.findTool("yuv_hstack"), f.fixed[1] + "yuv_hstack");
}

} // namespace
} // namespace kestrova::tools
