#include "demux/DemuxMeta.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kestrova::demux {
namespace {

std::string recording(const std::string &name) {
  return test::readFile(test::sourceDir() / "tests/fakes/recordings" / name);
}

TEST(DemuxMeta, TransportStreamReports) {
  struct Row {
    const char *name;
    std::string report;
    SeparateTracks expected;
  };
  const std::vector<Row> rows = {
      {"recorded from a disc-like clip", recording("tsmuxer-info-clip24.m2ts.txt"), {4113, 4114}},
      {"other PIDs, picture-in-picture ignored",
       "Track ID:    4097\nStream type: H.264\n\nTrack ID:    4098\nStream type: AC3\n\n"
       "Track ID:    4099\nStream type: MVC\n\nTrack ID:    6912\nStream type: H.264\nSecondary: 1\n",
       {4097, 4099}},
      {"no tracks: the disc's usual PIDs", "Can't detect stream type\n", {}},
      {"a type without its track", "Stream type: MVC\nTrack ID: 5\n", {}},
  };
  for (const auto &row : rows)
    EXPECT_EQ(parseSeparateTracks(row.report), row.expected) << row.name;
}

TEST(DemuxMeta, InformationReports) {
  struct Row {
    const char *name;
    std::string report;
    SubTracks expected;
  };
  const std::vector<Row> rows = {
      {"recorded from a 3D mkv", recording("tsmuxer-info-clip24_lr.mkv.txt"), {1, 2, 1, 1}},
      {"no subTrack lines", "Track ID: 4113\nStream type: H.264\n\nTrack ID: 4114\nStream type: MVC\n", {}},
  };
  for (const auto &row : rows)
    EXPECT_EQ(parseInformationReport(row.report), row.expected) << row.name;
}

} // namespace
} // namespace kestrova::demux
