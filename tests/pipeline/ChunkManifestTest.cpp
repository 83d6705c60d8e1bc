#include "pipeline/ChunkManifest.h"
#include "pipeline/ChunkJob.h"
#include "support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <set>

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

TEST(ChunkManifest, SurvivesTheDiskAndRefusesBrokenText) {
  test::TempDir folder;
  const auto file = folder / "chunks.manifest";
  writeManifestAtomically(threeChunks(), file);
  EXPECT_EQ(readManifest(file), threeChunks());
  EXPECT_FALSE(fs::exists(fs::path(file).concat(".partial")));

  const auto text = manifestText(threeChunks());
  for (std::size_t cut = 0; cut < text.size(); ++cut) // a crash mid-write leaves no usable manifest
    EXPECT_FALSE(parseManifest(text.substr(0, cut))) << "cut at " << cut;
  EXPECT_FALSE(readManifest(folder / "missing"));
}

TEST(ChunkManifest, SourceIdentityFollowsTheFile) {
  test::TempDir folder;
  const auto file = folder / "film.m2ts";
  const auto write = [&](char fill, std::size_t size) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << std::string(size, fill);
  };
  write('a', 3 << 20);
  const auto first = identifySource(file);
  EXPECT_EQ(identifySource(file), first);
  {
    std::fstream tail(file, std::ios::binary | std::ios::in | std::ios::out);
    tail.seekp(-1, std::ios::end);
    tail.put('b'); // same size; the last MiB differs
  }
  auto changed = identifySource(file);
  changed.mtimeNanoseconds = first.mtimeNanoseconds;
  EXPECT_NE(changed.edgeHash, first.edgeHash);
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
  const auto &m = manifest;
  const Row rows[] = {
      {"finished chunks reused", m, m.source, m.pictureSettings, spans, intact, false, {0, 1}},
      {"no manifest", std::nullopt, m.source, m.pictureSettings, spans, intact, true, {}},
      {"changed source", m, otherSource, m.pictureSettings, spans, intact, true, {}},
      {"changed settings", m, m.source, "crf=18", spans, intact, true, {}},
      {"other chunk table", m, m.source, m.pictureSettings, shorterTable, intact, true, {}},
      // Chunk 2 was finished by another machine after the manifest was written.
      {"chunk short of pictures or bytes",
       m,
       m.source,
       m.pictureSettings,
       spans,
       {{0, {5000, 1439}}, {1, {4901, 1452}}, {2, {90, 700}}},
       false,
       {2}},
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

// Chunks of a run that burned another track in, or at another depth, are not reused; the same
// subtitles copied into another work folder are.
TEST(ChunkManifest, BurnedInSubtitlesCountByTheirBytesNotTheirPlace) {
  test::TempDir folder;
  test::writeFile(folder / "a/burn_in.sup", "PG eng");
  test::writeFile(folder / "b/burn_in.sup", "PG eng");
  test::writeFile(folder / "b/other.sup", "PG fra");
  test::writeFile(folder / "a/offsets.mvc", "OFMD");
  const SubtitleBurnIn eng{folder / "a/burn_in.sup", folder / "a/offsets.mvc", 1, 4};
  auto manifest = threeChunks();
  manifest.subtitles = burnInIdentity(eng);
  EXPECT_EQ(parseManifest(manifestText(manifest)), manifest);
  std::vector<ChunkSpan> spans;
  std::map<int, ChunkOnDisk> intact;
  for (const auto &row : manifest.chunks) {
    spans.push_back(row.span);
    intact[row.span.index] = {row.encodedBytes.value_or(0), row.span.frameCount};
  }
  const auto resumes = [&](const std::optional<SubtitleBurnIn> &burnIn) {
    return !planResume(manifest, manifest.source, manifest.pictureSettings, spans, intact, burnInIdentity(burnIn))
                .startOver;
  };
  const auto with = [&eng](auto change) {
    SubtitleBurnIn burnIn = eng;
    change(burnIn);
    return burnIn;
  };
  EXPECT_TRUE(resumes(with([&](SubtitleBurnIn &b) { b.track = folder / "b/burn_in.sup"; })));
  EXPECT_FALSE(resumes(std::nullopt));
  for (const auto &other :
       {with([&](SubtitleBurnIn &b) { b.track = folder / "b/other.sup"; }),
        with([](SubtitleBurnIn &b) { b.fixedDepth = 5; }), with([](SubtitleBurnIn &b) { b.plane = 0; }),
        with([](SubtitleBurnIn &b) { b.offsets.clear(); })})
    EXPECT_FALSE(resumes(other)) << burnInIdentity(other);
}

// The settings line travels to other machines' chunk jobs and decides which
// chunks a run may take up: every output and input kind comes back as it
// went, a side-by-side run never matches a Vision Pro run's line, nor a
// packed source's layout another's; an MVC film's line is the one earlier
// runs wrote, so their chunks are still taken up.
TEST(ChunkManifest, PictureSettingsNameTheOutputAndInput) {
  ChunkPictureSettings settings;
  settings.quality = "0.7";
  settings.rightFirst = true;
  std::set<std::string> lines;
  for (ChunkInput input : {ChunkInput::mvcViews, ChunkInput::fullSbs, ChunkInput::halfSbs, ChunkInput::fullTab,
                           ChunkInput::halfTab, ChunkInput::frameAlternate})
    for (ChunkOutput output : {ChunkOutput::mvhevc, ChunkOutput::sideBySideHevc, ChunkOutput::sideBySideH264}) {
      settings.output = output;
      settings.input = input;
      const auto back = ChunkPictureSettings::parse(settings.canonical());
      ASSERT_TRUE(back) << settings.canonical();
      EXPECT_EQ(back->canonical(), settings.canonical());
      EXPECT_EQ(back->output, output);
      EXPECT_EQ(back->input, input);
      lines.insert(settings.canonical());
    }
  EXPECT_EQ(lines.size(), 18U);
  EXPECT_TRUE(ChunkPictureSettings::parse("output=mv-hevc quality=0.7 cap=0 view=1920x1080 rate=24000/1001 "
                                          "eyes=left-first"));
  std::string other = settings.canonical();
  other.replace(other.find("sbs-h264"), 8, "sbs-vp9");
  EXPECT_FALSE(ChunkPictureSettings::parse(other));
  other = settings.canonical();
  other.replace(other.find("frame-alternate"), 15, "checkerboard");
  EXPECT_FALSE(ChunkPictureSettings::parse(other));
}

// A chunk command's burn-in word comes back whole, also for the work folder
// a cut-only run lists under "Kestrova Output"; a word cut short does not.
TEST(ChunkManifest, BurnInWordCarriesFoldersWithBlanks) {
  ChunkBurnIn withBlanks{{"/v/Kestrova Output/K_1/chunks/subtitles.sup", "/v/Kestrova Output/K_1/chunks/o.mvc", 1, -3},
                         240};
  ChunkBurnIn relative{{"subtitles.sup", {}, std::nullopt, 4}, 0};
  for (const auto &burnIn : {withBlanks, relative}) {
    const auto back = ChunkBurnIn::parse(burnIn.canonical());
    ASSERT_TRUE(back) << burnIn.canonical();
    EXPECT_EQ(back->canonical(), burnIn.canonical());
    EXPECT_EQ(back->subtitles.track, burnIn.subtitles.track);
  }
  const std::string word = withBlanks.canonical();
  EXPECT_FALSE(ChunkBurnIn::parse(word.substr(0, word.find(" offsets="))));
}

} // namespace
} // namespace kestrova::pipeline
