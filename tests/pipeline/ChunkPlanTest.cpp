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
      {"remainder of half a target stays", {0, 24, 48}, 60, 1, {24, 24, 12}},
      {"short remainder joins the last chunk", {0, 24, 48}, 55, 1, {24, 31}},
      {"IDRs out of order and past the end", {48, 0, 100, 24}, 60, 1, {24, 24, 12}},
      {"irregular IDRs never give a short chunk", {0, 10, 30, 31, 70, 90}, 120, 1, {30, 40, 50}},
      {"no IDR inside: one chunk", {0}, 500, 1, {500}},
      {"film shorter than a chunk", {0, 12}, 20, 60, {20}},
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

TEST(ChunkPlan, JobsFromCoresAndMemory) {
  constexpr std::uint64_t gib = 1ULL << 30;
  struct Row {
    int cores;
    std::uint64_t freeBytes;
    int chunks;
    int requested;
    int jobs;
  };
  const Row rows[] = {
      {2, 20 * gib, 10, 0, 2}, {16, 3 * gib, 10, 0, 5}, {16, gib / 4, 10, 0, 1},
      {16, 20 * gib, 3, 0, 3}, {2, 20 * gib, 10, 6, 6}, {2, 20 * gib, 1, 6, 1},
  };
  for (const auto &row : rows)
    EXPECT_EQ(chooseJobCount({row.cores, row.freeBytes}, row.chunks, row.requested), row.jobs)
        << row.cores << " cores, " << row.freeBytes / gib << " GiB, " << row.chunks << " chunks";
  const auto here = thisMachine();
  EXPECT_GE(here.cores, 1);
  EXPECT_GT(here.availableBytes, 0U);
}

} // namespace
} // namespace kestrova::pipeline
