#include "pipeline/ChunkManifest.h"

#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace kestrova::pipeline {
namespace {
namespace fs = std::filesystem;

ChunkManifest threeChunks() {
  ChunkManifest manifest;
  manifest.source = {123456789, 1700000000123456789, 0xfeedfacecafe};
  manifest.pictureSettings = "crf=20 preset=medium size=1920x1080 swap=0";
  manifest.chunks = {{{0, 0, 1440}, 5000}, {{1, 1440, 1452}, 4900}, {{2, 2892, 700}, std::nullopt}};
  return manifest;
}

struct TempFolder {
  fs::path path = fs::temp_directory_path() / ("chunk-manifest-" + std::to_string(::getpid()));
  TempFolder() { fs::create_directories(path); }
  ~TempFolder() { fs::remove_all(path); }
};

TEST(ChunkManifest, SurvivesTheDiskAndRefusesBrokenText) {
  TempFolder folder;
  const auto file = folder.path / "chunks.manifest";
  writeManifestAtomically(threeChunks(), file);
  EXPECT_EQ(readManifest(file), threeChunks());
  EXPECT_FALSE(fs::exists(fs::path(file).concat(".partial")));

  const auto text = manifestText(threeChunks());
  for (std::size_t cut = 0; cut < text.size(); ++cut) // a crash mid-write leaves no usable manifest
    EXPECT_FALSE(parseManifest(text.substr(0, cut))) << "cut at " << cut;
  auto gap = text;
  gap.replace(gap.find("1440 1452"), 4, "1441");
  EXPECT_FALSE(parseManifest(gap));
  auto badBytes = text;
  badBytes.replace(badBytes.find(" 4900"), 5, " 49x0");
  EXPECT_FALSE(parseManifest(badBytes));
  EXPECT_FALSE(readManifest(folder.path / "missing"));
}

TEST(ChunkManifest, SourceIdentityFollowsTheFile) {
  TempFolder folder;
  const auto file = folder.path / "film.m2ts";
  const auto write = [&](char fill, std::size_t size) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << std::string(size, fill);
  };
  write('a', 3 << 20);
  const auto first = identifySource(file);
  EXPECT_EQ(first.size, 3U << 20);
  EXPECT_EQ(identifySource(file), first);
  {
    std::fstream tail(file, std::ios::binary | std::ios::in | std::ios::out);
    tail.seekp(-1, std::ios::end);
    tail.put('b'); // same size; the last MiB differs
  }
  auto changed = identifySource(file);
  changed.mtimeNanoseconds = first.mtimeNanoseconds;
  EXPECT_NE(changed.edgeHash, first.edgeHash);
  EXPECT_THROW(identifySource(folder.path / "missing"), fs::filesystem_error);
}

TEST(ChunkManifest, InspectsAChunkByItsRecord) {
  TempFolder folder;
  const auto chunk = folder.path / "c0.hevc";
  std::ofstream(chunk, std::ios::binary) << std::string(1000, 'x');
  const auto record = [&](const std::string &text) { std::ofstream(fs::path(chunk).concat(".frames")) << text; };
  struct Row {
    const char *text;
    std::int64_t frames; ///< -1: not whole
  };
  const Row rows[] = {
      {"view 1920 1080 24000 1001\n900 1 0 0 19 1\n100 0 1 0 1 0\nframes 2\n", 2},
      {"view 1920 1080 24000 1001\n900 1 0 0 19 1\n100 0 1 0 1 0\n", -1}, // cut before the count
      {"view 1920 1080 24000 1001\n900 1 0 0 19 1\nframes 2\n", -1},
      {"900 1 0 0 19 1\nframes 1\n", -1},
  };
  for (const auto &row : rows) {
    record(row.text);
    const auto seen = inspectChunk(chunk);
    EXPECT_EQ(seen ? seen->frames : -1, row.frames) << row.text;
    if (seen) {
      EXPECT_EQ(seen->bytes, 1000U);
    }
  }
  fs::remove(chunk);
  EXPECT_FALSE(inspectChunk(chunk));
}

TEST(ChunkManifest, ReusesOnlyChunksThatCheckOut) {
  const auto manifest = threeChunks();
  std::vector<ChunkSpan> spans;
  for (const auto &row : manifest.chunks)
    spans.push_back(row.span);
  const std::map<int, ChunkOnDisk> intact = {{0, {5000, 1440}}, {1, {4900, 1452}}, {2, {100, 30}}};
  auto otherSource = manifest.source;
  otherSource.mtimeNanoseconds += 1;
  auto shorterTable = spans;
  shorterTable.pop_back();
  struct Row {
    const char *name;
    std::optional<ChunkManifest> found;
    SourceIdentity source;
    std::string settings;
    std::vector<ChunkSpan> spans;
    std::map<int, ChunkOnDisk> onDisk;
    bool startOver;
    std::vector<int> reuse;
  };
  const Row rows[] = {
      {"finished chunks reused", manifest, manifest.source, manifest.pictureSettings, spans, intact, false, {0, 1}},
      {"no manifest", std::nullopt, manifest.source, manifest.pictureSettings, spans, intact, true, {}},
      {"changed source", manifest, otherSource, manifest.pictureSettings, spans, intact, true, {}},
      {"changed settings",
       manifest,
       manifest.source,
       "crf=18 preset=medium size=1920x1080 swap=0",
       spans,
       intact,
       true,
       {}},
      {"other chunk table", manifest, manifest.source, manifest.pictureSettings, shorterTable, intact, true, {}},
      {"truncated chunk",
       manifest,
       manifest.source,
       manifest.pictureSettings,
       spans,
       {{0, {4096, 1440}}, {1, {4900, 1452}}},
       false,
       {1}},
      {"chunk missing pictures",
       manifest,
       manifest.source,
       manifest.pictureSettings,
       spans,
       {{0, {5000, 1439}}, {1, {4900, 1452}}},
       false,
       {1}},
      {"chunk file gone", manifest, manifest.source, manifest.pictureSettings, spans, {{1, {4900, 1452}}}, false, {1}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const auto plan = planResume(row.found, row.source, row.settings, row.spans, row.onDisk);
    EXPECT_EQ(plan.startOver, row.startOver);
    EXPECT_EQ(plan.startOver, !plan.reason.empty());
    EXPECT_EQ(plan.reuse, row.reuse);
    EXPECT_EQ(plan.reuse.size() + plan.encode.size(), row.spans.size()); // every chunk once
  }
}

} // namespace
} // namespace kestrova::pipeline
