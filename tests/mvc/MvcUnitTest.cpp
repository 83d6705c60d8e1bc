#include "MvcTestSupport.h"
#include "core/Errors.h"
#include "pipeline/LdecodDecode.h"
#include "pipeline/MvcVariant.h"
#include "pipeline/SbsEncoder.h"
#include "pipeline/StreamDecodeRequest.h"
#include "pipeline/ViewDiscovery.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;
using Args = std::vector<std::string>;

TEST(SbsEncodeArguments, EveryTrackGoesWhereItsContainerTakesIt) {
  SbsEncodeRequest request;
  request.leftView = "/w/output_ViewId0001.yuv";
  request.rightView = "/w/output_ViewId0000.yuv";
  request.audioSource = "/in/movie.m2ts";
  request.output = "/out/movie_SBS.mov";
  request.width = 1920;
  request.height = 1080;
  auto has = [](const Args &arguments, const Args &part) {
    return std::search(arguments.begin(), arguments.end(), part.begin(), part.end()) != arguments.end();
  };
  // Every sound track of the source (the first the default) and its chapters; the
  // subtitles into Matroska only.
  for (const char *output : {"/out/movie_SBS.mov", "/out/movie_SBS.mkv"}) {
    SCOPED_TRACE(output);
    request.output = output;
    const bool matroska = fs::path(output).extension() == ".mkv";
    const Args arguments = sbsEncodeArguments(request);
    EXPECT_TRUE(has(arguments, {"-map", "2:a?"}));
    EXPECT_TRUE(has(arguments, {"-disposition:a:0", "default"}));
    EXPECT_TRUE(has(arguments, {"-map_chapters", "2"}));
    EXPECT_EQ(has(arguments, {"-map", "2:s?", "-c:s", "copy"}), matroska);
    EXPECT_EQ(has(arguments, {"-sn"}), !matroska);
  }
  // The disk-based variant ends with the same sound as the streaming ones.
  request.target = OutputTarget::visionPro;
  const auto audio = streamAudioArgumentList(OutputTarget::visionPro);
  const auto arguments = sbsEncodeArguments(request);
  EXPECT_NE(std::search(arguments.begin(), arguments.end(), audio.begin(), audio.end()), arguments.end());
}

TEST(LdecodDecode, EstimatedFramesCountBothViewsAndNeverFallBelowOne) {
  struct Row {
    double seconds;
    std::int64_t num, den, expected;
  };
  const Row rows[] = {
      {10.0, 24000, 1001, 480}, // 239.76 per view, rounded
      {7200.0, 24, 1, 345600},  // the unknown-length default
      {0.01, 24, 1, 1},         // less than one frame
      {0.0, 24, 1, 1},
      {-5.0, 24, 1, 1},
      {10.0, 24, 0, 1},
      {10.0, 0, 1, 1},
      {1e300, 24, 1, 9000000000000000000},
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
      {"an .mvc alone", {"m.track_4114.mvc"}, "", "", "Base view file not found after demuxing"},
  };
  for (const auto &row : rows) {
    test::TempDir dir;
    for (const char *file : row.files)
      test::writeFile(dir / file, "data");
    std::vector<std::string> lines;
    LogFn verbose = [&lines](const std::string &line) { lines.push_back(line); };
    if (*row.error) {
      try {
        findViewFiles(dir.path(), "m", verbose);
        ADD_FAILURE() << row.name;
      } catch (const ConversionError &error) {
        EXPECT_EQ(error, ConversionError::demuxFailed(row.error)) << row.name;
      }
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
