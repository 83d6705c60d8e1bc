#include "pipeline/SubtitleChoice.h"
#include "core/Errors.h"

#include <gtest/gtest.h>

namespace kestrova::pipeline {
namespace {

const std::vector<SubtitleTrack> kDisc{{"eng", true, false, 1}, {"fra", true, false, std::nullopt}};
const std::vector<SubtitleTrack> kFile{{"eng", true, false, 3}, {"eng", false, false, {}}, {"fra", true, true, {}}};

TEST(SubtitleChoice, TrackAndPlaneFollowTheRequestTheDiscAndTheFilesOrder) {
  struct Row {
    const char *what;
    const std::vector<SubtitleTrack> &tracks;
    bool fromDisc;
    SubtitleRequest request;
    std::optional<std::size_t> track;
    std::optional<int> plane;
    bool logged = true;
  };
  const std::vector<SubtitleTrack> none;
  const std::vector<Row> rows{
      {"disc, by language: the playlist's plane", kDisc, true, {"eng", {}, 4}, 0, 1},
      {"disc, by number: no plane in the playlist", kDisc, true, {"2", {}, 4}, 1, std::nullopt},
      {"disc, the user's plane wins", kDisc, true, {"eng", 5, 4}, 0, 5},
      {"disc, no forced track: none", kDisc, true, {"", {}, 4}, std::nullopt, std::nullopt, false},
      {"file: the n-th graphics track takes plane n-1, not a disc's", kFile, false, {"fra", {}, 4}, 2, 1},
      {"file: the forced track by default", kFile, false, {"", {}, 4}, 2, 1},
      {"file: a text track cannot be burned in", kFile, false, {"2", {}, 4}, std::nullopt, std::nullopt},
      {"none", kFile, false, {"none", {}, 4}, std::nullopt, std::nullopt, false},
      {"a source without subtitles", none, true, {"eng", {}, 4}, std::nullopt, std::nullopt},
  };
  for (const auto &row : rows) {
    const SubtitleChoice choice = chooseSubtitles(row.tracks, row.fromDisc, row.request);
    EXPECT_EQ(choice.track, row.track) << row.what;
    EXPECT_EQ(choice.plane, row.plane) << row.what;
    // Whatever burns in, or was asked for and cannot be, is logged.
    EXPECT_EQ(!choice.notes.empty(), row.logged) << row.what;
  }
}

TEST(SubtitleChoice, ATrackTheSourceLacksStopsWithTheTracksItHas) {
  try {
    chooseSubtitles(kFile, false, {"ger", {}, 4});
    ADD_FAILURE() << "a language the source lacks was taken";
  } catch (const SourceError &error) {
    const std::string what = error.what();
    EXPECT_NE(what.find("1 eng, 2 eng (text, cannot be burned in), 3 fra (forced)"), std::string::npos) << what;
  }
  for (const char *number : {"0", "4"})
    EXPECT_THROW(chooseSubtitles(kFile, false, {number, {}, 4}), SourceError) << number;
}

nal::OffsetMetadata tables(std::size_t sequences, std::size_t frames, std::size_t pictures) {
  nal::OffsetMetadata metadata;
  nal::OffsetTable table;
  table.frames = frames;
  table.pictures = pictures;
  table.sequences.assign(sequences, std::vector<nal::DepthOffset>(frames, 3));
  metadata.tables = {table, table};
  return metadata;
}

TEST(SubtitleChoice, DepthComesFromTheTablesOnlyWhenTheyHoldTheWholePlane) {
  auto damaged = tables(2, 10, 10);
  damaged.defects.push_back({7, "an SEI unit is cut short"});
  struct Row {
    const char *what;
    std::optional<int> plane;
    nal::OffsetMetadata metadata;
    std::optional<int> placed;
  };
  const std::vector<Row> rows{
      {"sequence 1 of 2", 1, tables(2, 10, 10), 1},
      {"a sequence the tables lack", 2, tables(2, 10, 10), std::nullopt},
      {"no tables", 0, {}, std::nullopt},
      {"a damaged table", 0, damaged, std::nullopt},
      {"a table shorter than its GOP", 0, tables(2, 9, 10), std::nullopt},
      {"no plane asked for", std::nullopt, tables(2, 10, 10), std::nullopt},
  };
  for (const auto &row : rows) {
    const DepthPlacement placement = placeDepth(row.plane, row.metadata, 6);
    EXPECT_EQ(placement.plane, row.placed) << row.what;
    // Every fall-back to the fixed depth says how deep it puts them.
    EXPECT_EQ(placement.note.find("6 px") != std::string::npos, row.plane && !row.placed) << row.what;
  }
}

} // namespace
} // namespace kestrova::pipeline
