#include "pipeline/ChunkPlan.h"
#include "pipeline/PictureChunks.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kestrova::pipeline {
namespace {

TEST(ChunkPlan, CutsAtTheFirstIdrPastTheTarget) {
  struct Row {
    const char *name;
    std::vector<std::int64_t> idrs;
    std::int64_t total;
    double seconds;
    std::vector<std::int64_t> lengths;
  };
  // 24 pictures per second, so a 1 s chunk is 24 pictures.
  const Row rows[] = {
      {"IDR every 12: two per chunk", {0, 12, 24, 36, 48, 60, 72}, 80, 1, {24, 24, 32}},
      {"short remainder joins the last chunk", {0, 24, 48}, 55, 1, {24, 31}},
      {"IDRs out of order and past the end", {48, 0, 100, 24}, 60, 1, {24, 24, 12}},
      {"irregular IDRs never give a short chunk", {0, 10, 30, 31, 70, 90}, 120, 1, {30, 40, 50}},
      {"no IDR inside: one chunk", {0}, 500, 1, {500}},
      {"empty film", {0}, 0, 1, {}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const auto chunks = planChunks(row.idrs, row.total, 24, row.seconds);
    std::vector<std::int64_t> lengths;
    std::int64_t next = 0;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
      EXPECT_EQ(chunks[i].index, static_cast<int>(i));
      EXPECT_EQ(chunks[i].firstFrame, next);
      next += chunks[i].frameCount;
      lengths.push_back(chunks[i].frameCount);
    }
    EXPECT_EQ(lengths, row.lengths);
  }
  EXPECT_THROW(planChunks({0}, 10, 0, 60), std::invalid_argument);
}

// ffprobe's packet lines for packets written as presentation times in
// decoding order, "K" after a key frame's, "-" for a packet without a time.
std::string packetLines(const std::string &packets) {
  std::istringstream words(packets);
  std::string lines;
  for (std::string word; words >> word;) {
    const bool key = word.ends_with('K');
    if (key)
      word.pop_back();
    lines += "pts=" + (word == "-" ? std::string("N/A") : word) + "|flags=" + (key ? "K__" : "___") + "\n";
  }
  return lines;
}

// A piece cut at a key frame decodes on its own and holds the pictures shown
// from there once its key frame's leading pictures (shown before it, decoded
// after it: an open GOP) are left out, as the piece before takes them in.
// Expected: "start@packet+leading" for each cut.
TEST(ChunkPlan, CutsOnlyWherePiecesDecodeOnTheirOwn) {
  struct Row {
    const char *name;
    const char *packets;
    int picturesPerUnit;
    const char *cuts;
    std::int64_t pictures;
  };
  const Row rows[] = {
      {"no B-frames: every key frame", "0K 1 2 3 4K 5 6 7", 1, "0@0+0 4@4+0", 8},
      {"B-frames in closed GOPs", "0K 3 1 2 4K 7 5 6 8K 9", 1, "0@0+0 4@4+0 8@8+0", 10},
      {"open GOP: the leading pictures right after their key frame", "0K 4 1 2 3 8K 5 6 7 12 9 10 11", 1, "0@0+0 8@5+3",
       13},
      {"open GOP: a leading picture apart from its key frame", "0K 4 1 2 3 8K 9 5 6 7", 1, "0@0+0", 10},
      {"a picture before the key frame shown after it", "0K 1 5 4K 2 3 6", 1, "0@0+0", 7},
      {"a stream opening with its key frame's leading pictures: not part of the film", "3K 0 1 2 7 4 5 6 11K 8 9 10 12",
       1, "0@0+3 8@8+3", 10},
      {"alternate pictures: cuts between pairs only", "0K 1 2 3K 4 5 6K 7 8 9", 2, "0@0+0 3@6+0", 5},
      {"alternate pictures: an open GOP cut at a pair whatever its packet", "0K 1 2 3 4 8K 5 6 7 9", 2, "0@0+0 4@5+3",
       5},
      {"alternate pictures: a last picture without its pair is left out", "0K 1 2 3 4", 2, "0@0+0", 2},
      {"a picture without a time: one piece", "0K 1 - 3 4K 5", 1, "0@0+0", 6},
      {"no pictures", "", 1, "0@0+0", 0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const FilmCuts cuts = packetListCuts(packetLines(row.packets), row.picturesPerUnit);
    std::string found;
    for (const auto &key : cuts.keys)
      found += (found.empty() ? "" : " ") + std::to_string(key.start) + "@" + std::to_string(key.packet) + "+" +
               std::to_string(key.leading);
    EXPECT_EQ(found, row.cuts);
    EXPECT_EQ(cuts.pictures, row.pictures);
    ASSERT_EQ(cuts.starts.size(), cuts.keys.size());
    for (std::size_t i = 0; i < cuts.keys.size(); ++i)
      EXPECT_EQ(cuts.starts[i], cuts.keys[i].start);
  }
}

} // namespace
} // namespace kestrova::pipeline
