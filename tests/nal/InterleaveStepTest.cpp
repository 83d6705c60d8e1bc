#include "pipeline/InterleaveStep.h"
#include "nal/InterleaveError.h"
#include "pipeline/PipelineEngine.h"

#include "Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kestrova::pipeline {
namespace {
using kestrova::test::TempDir;

TEST(InterleaveStep, LogsThroughTheEngineAndStopsWithIt) {
  struct Row {
    bool verbose;
    bool cancelled;
    std::vector<std::string> lines;
  };
  TempDir dir;
  const auto base = dir / "title.264";
  const auto mvc = dir / "title.mvc";
  const auto output = dir / "out.h264";
  nal::test::writeBytes(base, nal::test::labelledStream(9, 2));
  nal::test::writeBytes(mvc, nal::test::labelledStream(24, 2));
  const Row rows[] = {
      {true,
       false,
       {"Interleaving NAL units from title.264 + title.mvc", "[NALInterleaver] Complete: 2 pairs written",
        "Wrote interleaved stream to: " + output.string()}},
      {false, false, {"[NALInterleaver] Complete: 2 pairs written"}},
      {false, true, {"[NALInterleaver] Cancelled", "[NALInterleaver] Complete: 0 pairs written"}},
  };
  for (const auto &row : rows) {
    PipelineEngine engine;
    std::vector<std::string> lines;
    engine.onLog = [&](const std::string &line) { lines.push_back(line); };
    engine.verboseLogging = row.verbose;
    engine.beginRun();
    if (row.cancelled)
      engine.cancel(); // no tool is running, so this only raises the flag
    interleaveNALUnits(engine, base, mvc, output);
    EXPECT_EQ(lines, row.lines);
  }
}

TEST(InterleaveStep, ErrorsPassThrough) {
  TempDir dir;
  PipelineEngine engine;
  engine.verboseLogging = true;
  std::vector<std::string> lines;
  engine.onLog = [&](const std::string &line) { lines.push_back(line); };
  EXPECT_THROW(interleaveNALUnits(engine, dir / "a.264", dir / "a.mvc", dir / "out.h264"), nal::InterleaveError);
  EXPECT_EQ(lines, std::vector<std::string>{"Interleaving NAL units from a.264 + a.mvc"});
}

} // namespace
} // namespace kestrova::pipeline
