#include "demux/DemuxMeta.h"

#include <gtest/gtest.h>

namespace kestrova::demux {
namespace {

const std::string kLong = "MUXOPT --no-pcr-on-video-pid --new-audio-pes --demux --vbr --vbv-len=500";

TEST(DemuxMeta, SeparateTrackForm) {
  struct Row {
    const char *name;
    std::vector<DetectedTrack> tracks;
    std::optional<std::int64_t> limit;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"two h264 tracks",
       {{0, "h264", false, 0}, {1, "h264", true, 1}},
       std::nullopt,
       kLong + "\nV_MPEG4/ISO/AVC, \"/d/My Movie.m2ts\", track=0\nV_MPEG4/ISO/MVC, \"/d/My Movie.m2ts\", track=1\n"},
      {"upper-case AVC kept, hevc skipped, cut",
       {{4113, "AVC", false, 0}, {4115, "hevc", false, 2}},
       120,
       kLong + " --cut-end=120s\nV_MPEG4/ISO/AVC, \"/d/My Movie.m2ts\", track=4113\n"},
      {"empty listing",
       {},
       std::nullopt,
       kLong +
           "\nV_MPEG4/ISO/AVC, \"/d/My Movie.m2ts\", track=4113\nV_MPEG4/ISO/MVC, \"/d/My Movie.m2ts\", track=4114\n"},
      {"no h264 at all", {{0, "hevc", false, 0}}, std::nullopt, kLong + "\n"},
  };
  for (const auto &row : rows)
    EXPECT_EQ(separateTrackMeta("/d/My Movie.m2ts", row.tracks, row.limit), row.expected) << row.name;
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
