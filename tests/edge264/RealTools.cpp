#include "RealTools.h"

#include "support/RealMedia.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kestrova::helpers {

namespace fs = std::filesystem;

fs::path sharedDir() {
  return kestrova::test::referenceMedia().value_or(kestrova::test::sourceDir() / "../shared/testdata").parent_path();
}

tools::CollectedOutput run(const std::string &program, std::vector<std::string> arguments, const fs::path &directory) {
  tools::ProcessLaunch launch;
  launch.executable = program;
  launch.arguments = std::move(arguments);
  launch.workingDirectory = directory;
  return tools::runAndCollect(launch);
}

std::pair<fs::path, fs::path> demuxedViews(const fs::path &directory) {
  const auto tsmuxer = kestrova::test::realTool("tsmuxer");
  if (!tsmuxer)
    return {};
  // The disc's fixed track numbers: base view on PID 0x1011, MVC view on 0x1012.
  const fs::path clip = sharedDir() / "testdata/bluray/clip24.m2ts";
  kestrova::test::writeFile(directory / "demux.meta", "MUXOPT --demux\nV_MPEG4/ISO/AVC, \"" + clip.string() +
                                                          "\", track=4113\nV_MPEG4/ISO/MVC, \"" + clip.string() +
                                                          "\", track=4114\n");
  auto result = run(tsmuxer->string(), {"demux.meta", (directory / "out").string()}, directory);
  EXPECT_TRUE(result.status.success()) << result.standardOutput;
  fs::path views[2];
  for (const auto &entry : fs::recursive_directory_iterator(directory / "out"))
    views[entry.path().extension() == ".mvc" ? 1 : 0] = entry.path();
  return {views[0], views[1]};
}

} // namespace kestrova::helpers
