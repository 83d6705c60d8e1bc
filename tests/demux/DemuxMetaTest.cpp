#include "demux/DemuxMeta.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kestrova::demux {
namespace {

const std::string kLong = "MUXOPT --no-pcr-on-video-pid --new-audio-pes --demux --vbr --vbv-len=500";

std::string recording(const std::string &name) {
  return test::readFile(test::sourceDir() / "tests/fakes/recordings" / name);
}

TEST(DemuxMeta, SeparateTrackForm) {
  EXPECT_EQ(separateTrackMeta("/d/My Movie.m2ts", SeparateTracks{}, std::nullopt),
            kLong + "\nV_MPEG4/ISO/AVC, \"/d/My Movie.m2ts\", track=4113\nV_MPEG4/ISO/MVC, \"/d/My Movie.m2ts\", "
                    "track=4114\n");
  EXPECT_EQ(separateTrackMeta("/d/a.ts", SeparateTracks{4097, 4099}, 120),
            kLong + " --cut-end=120s\nV_MPEG4/ISO/AVC, \"/d/a.ts\", track=4097\nV_MPEG4/ISO/MVC, \"/d/a.ts\", "
                    "track=4099\n");
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

TEST(DemuxMeta, SingleTrackForm) {
  EXPECT_EQ(singleTrackMeta("/m/a.mkv", SubTracks{}, std::nullopt),
            "MUXOPT --demux\nV_MPEG4/ISO/AVC, \"/m/a.mkv\", track=1, subTrack=2\n"
            "V_MPEG4/ISO/MVC, \"/m/a.mkv\", track=1, subTrack=1\n");
  EXPECT_EQ(singleTrackMeta("/m/a.mkv", SubTracks{3, 2, 3, 1}, 60),
            "MUXOPT --demux --cut-end=60s\nV_MPEG4/ISO/AVC, \"/m/a.mkv\", track=3, subTrack=2\n"
            "V_MPEG4/ISO/MVC, \"/m/a.mkv\", track=3, subTrack=1\n");
}

TEST(DemuxMeta, InformationReports) {
  // The shape tsMuxeR prints for a 3D .mkv: the MVC entry of a combined track first.
  const std::string mkvReport = "tsMuxeR version 2.6.16. github.com/justdan96/tsMuxer\n"
                                "Track ID:    3\nStream type: MVC\nStream ID:   V_MPEG4/ISO/MVC\n"
                                "Stream info: Profile: Stereo High\nsubTrack: 1\n\n"
                                "Track ID:    3\nStream type: H.264\nStream ID:   V_MPEG4/ISO/AVC\n"
                                "Stream info: Profile: High@4.1\nsubTrack: 2\n\n"
                                "Track ID:    4\nStream type: AC3\nStream ID:   A_AC3\n"
                                "Duration: 01:58:00.123\n";
  struct Row {
    const char *name;
    std::string report;
    SubTracks expected;
  };
  const std::vector<Row> rows = {
      {"3D mkv", mkvReport, {3, 2, 3, 1}},
      {"recorded from a 3D mkv", recording("tsmuxer-info-clip24_lr.mkv.txt"), {1, 2, 1, 1}},
      {"minimal order", "Track ID: 1\nStream type: MVC\nsubTrack: 1\nStream type: H.264\nsubTrack: 2\n", {1, 2, 1, 1}},
      {"no subTrack lines", "Track ID: 4113\nStream type: H.264\n\nTrack ID: 4114\nStream type: MVC\n", {}},
      {"lower-case h.264 matches nothing", "Track ID: 7\nStream type: h.264\nsubTrack: 5\n", {}},
      {"blanks and tabs trimmed", "\t Track ID:\t 9 \n  Stream type:  MVC\t\n subTrack: 4 \n", {1, 2, 9, 4}},
      {"unparsable numbers read 0", "Track ID: x\nStream type: MVC\nsubTrack: \n", {1, 2, 0, 0}},
      {"a later subTrack overrides",
       "Track ID: 1\nStream type: MVC\nsubTrack: 1\nTrack ID: 2\nsubTrack: 7\n",
       {1, 2, 2, 7}},
      {"CRLF lines keep their carriage return", "Track ID: 5\r\nStream type: MVC\r\nsubTrack: 1\r\n", {1, 2, 1, 1}},
      {"junk", "\x01\x02garbage\n:::\nsubTrack:\n", {}},
      {"empty", "", {}},
  };
  for (const auto &row : rows)
    EXPECT_EQ(parseInformationReport(row.report), row.expected) << row.name;
}

} // namespace
} // namespace kestrova::demux
