#include "pipeline/ChunkPlan.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace kestrova::pipeline
