#include "pipeline/StreamDecoderChoice.h"
#include "RealTools.h"
#include "StreamBuilder.h"
#include "fakes/FakeToolFolder.h"
#include "pipeline/PipelineEngine.h"
#include "support/TestSupport.h"

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

// The check passes views edge264 decodes and names what it cannot decode.
TEST(StreamDecoderChoice, Edge264CheckRefusesOnlyViewsItCannotDecode) {
  kestrova::test::TempDir scratch;
  const auto [base, mvc] = demuxedViews(scratch.path());
  if (base.empty())
    GTEST_SKIP() << "tsMuxeR is not built (scripts/build-tools)";
  struct Row {
    std::string name;
    fs::path base;
    std::optional<std::string> refusal;
  };
  const Row rows[] = {
      {"views it decodes", base, std::nullopt},
      {"interlaced views", interlacedBase(base, scratch.path()), "interlaced coding (field or MBAFF pictures)"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    kestrova::test::TempDir dir;
    kestrova::test::FakeToolFolder tools(dir / "share/kestrova/tools");
    tools.addReal("edge264-pipe", KESTROVA_EDGE264_PIPE);
    tools::SystemPrograms programs;
    programs.which = (dir / "no-which").string();
    pipeline::PipelineEngine engine(
        tools::ToolLocator(tools::BundlePaths{"", "/nonexistent", ""}, programs, {tools.path().string() + "/"}));
    EXPECT_EQ(pipeline::fastDecoderRefusal(engine, row.base, mvc), row.refusal);
  }
}

} // namespace
} // namespace kestrova::helpers
