#include "pipeline/ShellQuote.h"
#include "support/TestSupport.h"
#include "tools/Process.h"

#include <gtest/gtest.h>

namespace kestrova::pipeline {
namespace {

TEST(ShellQuote, EveryNameReachesTheProgramUnchanged) {
  test::TempDir dir;
  const std::string names[] = {"plain.mkv",
                               "with blank.mkv",
                               "double\"quote.mkv",
                               "single'quote.mkv",
                               "dollar$HOME.mkv",
                               "back`tick`.mkv",
                               "back\\slash.mkv",
                               "sub$(touch SENTINEL).mkv",
                               "new\nline.mkv",
                               "'''",
                               "",
                               "*?[a]",
                               "\xc3\xa9t\xc3\xa9 3D.mkv"};
  for (const auto &name : names) {
    tools::ProcessLaunch launch;
    launch.executable = "/bin/bash";
    launch.arguments = {"-c", "printf %s " + shellQuote(name)};
    launch.workingDirectory = dir.path();
    auto output = tools::runAndCollect(launch);
    EXPECT_EQ(output.standardOutput, name);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "SENTINEL"));
}

} // namespace
} // namespace kestrova::pipeline
