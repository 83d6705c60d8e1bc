#include "MvcTestSupport.h"
#include "core/Errors.h"
#include "pipeline/LdecodDecode.h"
#include "pipeline/MvcVariant.h"
#include "pipeline/ViewDiscovery.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;

TEST(LdecodDecode, EstimatedFramesCountBothViewsAndNeverFallBelowOne) {
  struct Row {
    double seconds;
    std::int64_t num, den, expected;
  };
  const Row rows[] = {
      {10.0, 24000, 1001, 480}, // 239.76 per view, rounded
      {7200.0, 24, 1, 345600},  // the unknown-length default
      {0.01, 24, 1, 1},         // less than one frame
      {10.0, 24, 0, 1},
  };
  for (const auto &row : rows)
    EXPECT_EQ(estimatedDecodedFrames(row.seconds, row.num, row.den), row.expected) << row.seconds;
  // Inside the work directory by its name (JM keeps 255 characters of a name), elsewhere absolute.
  EXPECT_EQ(decoderInputName("/w/K_1/m_interleaved.264", "/w/K_1"), "m_interleaved.264");
  EXPECT_EQ(decoderInputName("/w/K_1/sub/m.264", "/w/K_1"), "/w/K_1/sub/m.264");
  EXPECT_EQ(decoderInputName("/elsewhere/m.264", "/w/K_1"), "/elsewhere/m.264");
}

TEST(ViewDiscovery, ExpectedNamesThenScanInNameOrder) {
  struct Row {
    const char *name;
    std::vector<const char *> files;
    const char *base; // empty: the error below
    const char *mvc;
    const char *error;
  };
  const Row rows[] = {
      {"expected names win", {"m.track_4113.264", "m.264", "m.mvc"}, "m.264", "m.mvc", ""},
      {"tsMuxeR track names",
       {"m.track_4114.mvc", "m.track_4113.264", "demux.meta"},
       "m.track_4113.264",
       "m.track_4114.mvc",
       ""},
      {"only the .264 of the expected pair", {"m.264", "m.track_4114.mvc"}, "m.264", "m.track_4114.mvc", ""},
      {"two .264, no .mvc", {"m.track_4114.264", "m.track_4113.264"}, "m.track_4113.264", "m.track_4114.264", ""},
      {"one .264 only", {"m.track_4113.264"}, "", "", "MVC view file not found after demuxing"},
      {"nothing", {"demux.meta"}, "", "", "Base view file not found after demuxing"},
  };
  for (const auto &row : rows) {
    test::TempDir dir;
    for (const char *file : row.files)
      test::writeFile(dir / file, "data");
    std::vector<std::string> lines;
    LogFn verbose = [&lines](const std::string &line) { lines.push_back(line); };
    if (*row.error) {
      EXPECT_EQ(test::conversionErrorOf([&] { findViewFiles(dir.path(), "m", verbose); }),
                ConversionError::demuxFailed(row.error))
          << row.name;
      continue;
    }
    auto views = findViewFiles(dir.path(), "m", verbose);
    EXPECT_EQ(views.base, dir / row.base) << row.name;
    EXPECT_EQ(views.mvc, dir / row.mvc) << row.name;
  }
}

// The FIFO goes into the work folder, else into a private scratch folder,
// else nowhere, with the reason the road plan then gives.
TEST(FifoPlace, WorkFolderThenScratchFolderThenNone) {
  struct Row {
    const char *name;
    bool workFolderTakesOne;
    const char *scratch; // $XDG_RUNTIME_DIR and $TMPDIR; "" a fresh folder
    bool placed;
  };
  const Row rows[] = {
      {"work folder", true, nullptr, true},
      {"scratch folder", false, "", true},
      {"nowhere", false, "/proc", false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    test::MvcEngineFixture f;
    const fs::path scratchFolder = f.dir / "scratch";
    fs::create_directories(scratchFolder);
    std::optional<test::ScratchFolders> scratch;
    if (row.scratch)
      scratch.emplace(*row.scratch ? std::string(row.scratch) : scratchFolder.string());
    const fs::path wanted = (row.workFolderTakesOne ? f.dir.path() : f.dir / "missing") / "interleave_fifo.264";
    std::string refusal;
    const auto fifo = placeFifo(*f.engine, wanted, refusal);
    ASSERT_EQ(fifo.has_value(), row.placed);
    EXPECT_EQ(refusal.empty(), row.placed);
    if (!fifo)
      continue;
    EXPECT_TRUE(fs::is_fifo(fifo->path));
    EXPECT_EQ(fifo->path.parent_path(), row.workFolderTakesOne ? f.dir.path() : fifo->folder->path());
    if (!row.workFolderTakesOne) {
      EXPECT_EQ(fifo->folder->path().parent_path(), scratchFolder);
    }
  }
}

} // namespace
} // namespace kestrova::pipeline
