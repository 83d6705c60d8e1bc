#include "pipeline/StreamDecoderChoice.h"
#include "RealTools.h"
#include "StreamBuilder.h"
#include "fakes/FakeToolFolder.h"
#include "pipeline/PipelineEngine.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace kestrova::helpers {
namespace {

namespace fs = std::filesystem;

/// The disc clip's base view with an interlaced sequence parameter set in
/// its own access unit in front.
fs::path interlacedBase(const fs::path &base, const fs::path &directory) {
  streaming::test::SpsFields interlaced;
  interlaced.frameMbsOnly = false;
  streaming::test::Bytes bytes = {0, 0, 0, 1, 9, 0x10};
  const auto sps = streaming::test::sequenceParameterSet(interlaced);
  bytes.insert(bytes.end(), sps.begin(), sps.end());
  const std::string rest = kestrova::test::readFile(base);
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  streaming::test::writeBytes(directory / "interlaced.264", bytes);
  return directory / "interlaced.264";
}

// The fast decoder is taken only where it is installed and its check of the
// views passes; otherwise the JM decoder, and the log says why.
TEST(StreamDecoderChoice, TakesEdge264OnlyWhenItIsThereAndCanDecodeTheViews) {
  kestrova::test::TempDir scratch;
  const auto [base, mvc] = demuxedViews(scratch.path());
  if (base.empty())
    GTEST_SKIP() << "tsMuxeR is not built (scripts/build-tools)";
  struct Row {
    std::string name;
    bool installed;
    fs::path base;
    std::string decoder;
    std::string line;
  };
  const Row rows[] = {
      {"not installed", false, base, "ldecod-pipe", "Decoder: ldecod-pipe (JM reference decoder)"},
      {"views it decodes", true, base, "edge264-pipe", "Decoder: edge264-pipe (edge264-mvc)"},
      {"interlaced views", true, interlacedBase(base, scratch.path()), "ldecod-pipe",
       "\u26a0\ufe0f edge264-pipe cannot decode this source (interlaced coding (field or MBAFF pictures)) \u2014 using "
       "the JM decoder"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    kestrova::test::TempDir dir;
    kestrova::test::FakeToolFolder tools(dir / "share/kestrova/tools");
    if (row.installed)
      tools.addReal("edge264-pipe", KESTROVA_EDGE264_PIPE);
    tools::SystemPrograms programs;
    programs.which = (dir / "no-which").string();
    pipeline::PipelineEngine engine(
        tools::ToolLocator(tools::BundlePaths{"", "/nonexistent", ""}, programs, {tools.path().string() + "/"}));
    std::vector<std::string> lines;
    engine.onLog = [&lines](const std::string &line) { lines.push_back(line); };
    EXPECT_EQ(pipeline::chooseStreamDecoder(engine, row.base, mvc), row.decoder);
    EXPECT_NE(std::find(lines.begin(), lines.end(), row.line), lines.end()) << ::testing::PrintToString(lines);
  }
}

} // namespace
} // namespace kestrova::helpers
