#include "pipeline/InterleaveStep.h"
#include "nal/InterleaveError.h"
#include "pipeline/PipelineEngine.h"

#include "Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kestrova::pipeline {
namespace {
using kestrova::test::TempDir;

// The step interleaves under the engine's cancel flag and lets the interleaver's errors through.
TEST(InterleaveStep, StopsWithTheEngineAndPassesErrorsOn) {
  TempDir dir;
  const auto base = dir / "title.264", mvc = dir / "title.mvc", output = dir / "out.h264";
  nal::test::writeBytes(base, nal::test::labelledStream(9, 2));
  nal::test::writeBytes(mvc, nal::test::labelledStream(24, 2));
  for (const bool cancelled : {false, true}) {
    PipelineEngine engine;
    engine.beginRun();
    if (cancelled)
      engine.cancel(); // no tool is running, so this only raises the flag
    interleaveNALUnits(engine, base, mvc, output);
    EXPECT_EQ(std::filesystem::file_size(output) == 0, cancelled);
  }
  PipelineEngine engine;
  EXPECT_THROW(interleaveNALUnits(engine, dir / "a.264", dir / "a.mvc", output), nal::InterleaveError);
}

} // namespace
} // namespace kestrova::pipeline
