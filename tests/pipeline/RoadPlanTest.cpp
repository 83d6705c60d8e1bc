#include "pipeline/RoadPlan.h"

#include <gtest/gtest.h>

namespace kestrova::pipeline {
namespace {

enum Tool : unsigned {
  edge264 = 1,
  ldecodPipe = 2,
  ldecod = 4,
  hstack = 8,
  converter = 16,
  script = 32,
  dualSplit = 64,
  chunkTools = 128,
};

ToolInventory inventory(unsigned tools) {
  ToolInventory inventory;
  inventory.edge264Pipe = tools & edge264;
  inventory.ldecodPipe = tools & ldecodPipe;
  inventory.ldecod = tools & ldecod;
  inventory.yuvHstack = tools & hstack;
  inventory.mvhevcConverter = tools & converter;
  if (tools & script)
    inventory.parallelScript = "/tools/parallel-pipeline.sh";
  inventory.dualSplitTools = tools & dualSplit;
  inventory.chunkTools = tools & chunkTools;
  return inventory;
}

// What is written: a side-by-side file, MV-HEVC alone, or MV-HEVC with the
// side-by-side file kept beside it.
enum class Writes { sbs, spatial, spatialAndSbs };

OutputPlan outputs(Writes writes) {
  OutputPlan plan;
  if (writes != Writes::spatial)
    plan.sideBySide = "/out/film_SBS.mkv";
  if (writes != Writes::sbs)
    plan.spatial = "/out/film.mov";
  return plan;
}

Road sideBySide(MvcVariant variant, const char *decoder, bool thenMvhevc = false) {
  const bool script = variant == MvcVariant::dualSplitParallel || variant == MvcVariant::parallel;
  return MvcSideBySideRoad{variant, decoder,
                           script ? std::optional<std::filesystem::path>("/tools/parallel-pipeline.sh") : std::nullopt,
                           thenMvhevc};
}

Road noRoad(const char *tool) {
  return NoRoad{tool, {}};
}

// The rows of the variant table (docs/design.md) and of the Vision Pro
// roads, as a user's tools folder and source give them.
TEST(RoadPlan, ToolsSourceAndTargetGiveTheRoad) {
  const unsigned jm = ldecodPipe | ldecod | hstack;
  const unsigned all = edge264 | jm | converter | script | dualSplit;
  const std::string refused = "interlaced coding";
  const auto mvc = Stereo3DMode::mvcSeparateTracks();
  struct Row {
    const char *name;
    unsigned tools;
    Stereo3DMode layout;
    Writes writes;
    Road expected;
    std::optional<std::string> fastDecoderRefusal = std::nullopt;
    std::optional<std::string> fifoRefusal = std::nullopt;
    bool chunksWanted = false; // a long film, or jobs or hosts asked for
    bool burnIn = false;       // a subtitle track to burn in
    const char *says = "";     // a word of why the road is not a better one
  };
  const auto none = std::nullopt;
  const Row rows[] = {
      {"A dual-split parallel", jm | script | dualSplit, mvc, Writes::sbs,
       sideBySide(MvcVariant::dualSplitParallel, "ldecod-pipe")},
      {"B parallel", jm | script, mvc, Writes::sbs, sideBySide(MvcVariant::parallel, "ldecod-pipe")},
      {"C FIFO, no segment script", jm, mvc, Writes::sbs, sideBySide(MvcVariant::fifo, "ldecod-pipe")},
      {"C FIFO with edge264, segment script unused", all, mvc, Writes::sbs,
       sideBySide(MvcVariant::fifo, "edge264-pipe")},
      {"edge264 refuses the views: the JM road", all, mvc, Writes::sbs,
       sideBySide(MvcVariant::dualSplitParallel, "ldecod-pipe"), refused},
      {"D pipe from file: no FIFO anywhere", all, mvc, Writes::sbs,
       sideBySide(MvcVariant::pipeFromFile, "edge264-pipe"), std::nullopt, "exFAT"},
      {"E disk: no streaming decoder", ldecod | hstack | script, mvc, Writes::sbs,
       sideBySide(MvcVariant::diskBased, "ldecod")},
      {"E disk: no stacker", ldecodPipe | ldecod | edge264, Stereo3DMode::mvcSingleTrack(true), Writes::sbs,
       sideBySide(MvcVariant::diskBased, "ldecod")},
      {"nothing decodes MVC", hstack | converter, mvc, Writes::sbs, noRoad("ldecod")},
      {"Vision Pro in one encode", all, mvc, Writes::spatial, MvcDirectRoad{"edge264-pipe", true, false}},
      {"Vision Pro in one encode, side by side kept", all, mvc, Writes::spatialAndSbs,
       MvcDirectRoad{"edge264-pipe", true, true}},
      {"Vision Pro with the JM decoder never takes the segment script", jm | script | dualSplit | converter, mvc,
       Writes::spatialAndSbs, MvcDirectRoad{"ldecod-pipe", true, true}},
      {"a long film to Vision Pro in chunks", all | chunkTools, mvc, Writes::spatial,
       MvcDirectRoad{"edge264-pipe", true, false, true}, std::nullopt, std::nullopt, true},
      {"a long film with the side-by-side file kept: one encode, not chunks", all | chunkTools, mvc,
       Writes::spatialAndSbs, MvcDirectRoad{"edge264-pipe", true, true, false}, std::nullopt, std::nullopt, true, false,
       "kept"},
      {"a long film without the chunk tools: one piece", all, mvc, Writes::spatial,
       MvcDirectRoad{"edge264-pipe", true, false, false}, std::nullopt, std::nullopt, true, false, "nal-scan"},
      {"a long film to side by side in chunks", all | chunkTools, mvc, Writes::sbs,
       MvcChunkedSideBySideRoad{"edge264-pipe"}, std::nullopt, std::nullopt, true},
      {"chunks take the JM decoder's place of the segment script", jm | script | dualSplit | chunkTools, mvc,
       Writes::sbs, MvcChunkedSideBySideRoad{"ldecod-pipe"}, std::nullopt, std::nullopt, true},
      {"a long film to side by side without the chunk tools: FIFO", all, mvc, Writes::sbs,
       sideBySide(MvcVariant::fifo, "edge264-pipe"), std::nullopt, std::nullopt, true, false, "nal-scan"},
      {"a long film to side by side without a stacker: no chunks", edge264 | ldecodPipe | ldecod | chunkTools, mvc,
       Writes::sbs, sideBySide(MvcVariant::diskBased, "ldecod"), std::nullopt, std::nullopt, true, false, "yuv_hstack"},
      {"Vision Pro, no FIFO", all, mvc, Writes::spatial, MvcDirectRoad{"edge264-pipe", false, false}, std::nullopt,
       "exFAT"},
      {"Vision Pro, kept side by side without a stacker", edge264 | ldecod | converter, mvc, Writes::spatialAndSbs,
       sideBySide(MvcVariant::diskBased, "ldecod", true)},
      {"Vision Pro without a streaming decoder", ldecod | hstack | converter, mvc, Writes::spatial,
       sideBySide(MvcVariant::diskBased, "ldecod", true)},
      {"Vision Pro without the converter nor edge264", jm | script | dualSplit, mvc, Writes::spatialAndSbs,
       noRoad("MVHEVCConverter")},
      {"frame alternate, right eye first, to Vision Pro", converter, Stereo3DMode::frameAlternate(true),
       Writes::spatialAndSbs, FrameAlternateRoad{true, true}},
      {"frame alternate to side by side", 0, Stereo3DMode::frameAlternate(false), Writes::sbs,
       FrameAlternateRoad{false, false}},
      {"packed eyes to side by side", 0, Stereo3DMode::topAndBottom(), Writes::sbs, PackedRoad{false}},
      {"packed eyes to Vision Pro", converter, Stereo3DMode::sideBySide(Stereo3DMode::EyeSize::half), Writes::spatial,
       PackedRoad{true}},
      {"packed eyes to Vision Pro without the converter", all & ~converter, Stereo3DMode::sideBySide(), Writes::spatial,
       noRoad("MVHEVCConverter")},
      {"a long packed film to Vision Pro in chunks", converter, Stereo3DMode::topAndBottom(Stereo3DMode::EyeSize::half),
       Writes::spatial, PackedRoad{true, true}, none, none, true},
      {"a long packed film to side by side: one ffmpeg encode", 0, Stereo3DMode::sideBySide(), Writes::sbs,
       PackedRoad{false, false}, none, none, true},
      {"a long frame-alternate film to Vision Pro in chunks", converter, Stereo3DMode::frameAlternate(true),
       Writes::spatial, FrameAlternateRoad{true, true, true}, none, none, true},
      {"a long frame-alternate film with the side-by-side file kept: one piece", converter,
       Stereo3DMode::frameAlternate(false), Writes::spatialAndSbs, FrameAlternateRoad{false, true, false}, none, none,
       true, false, "kept"},
      // Subtitles burned in: only roads that hand each pair, in film order, to the stacker or converter.
      {"burn-in: the FIFO road, not the segment script", jm | script | dualSplit, mvc, Writes::sbs,
       sideBySide(MvcVariant::fifo, "ldecod-pipe"), none, none, false, true},
      {"burn-in: no FIFO, piped from a file", all, mvc, Writes::sbs,
       sideBySide(MvcVariant::pipeFromFile, "edge264-pipe"), none, "exFAT", false, true},
      {"burn-in without a streaming decoder: refused", ldecod | hstack | script | converter, mvc, Writes::spatial,
       noRoad("edge264-pipe"), none, none, false, true},
      {"burn-in, edge264 refuses and no JM streaming decoder: refused", edge264 | ldecod | hstack, mvc, Writes::sbs,
       noRoad("ldecod-pipe"), refused, none, false, true},
      {"burn-in with the side-by-side file kept but no stacker: refused", edge264 | ldecod | converter, mvc,
       Writes::spatialAndSbs, noRoad("yuv_hstack"), none, none, false, true},
      {"burn-in into a long film's chunks", all | chunkTools, mvc, Writes::spatial,
       MvcDirectRoad{"edge264-pipe", true, false, true}, none, none, true, true},
      {"burn-in into a long film's side-by-side chunks", all | chunkTools, mvc, Writes::sbs,
       MvcChunkedSideBySideRoad{"edge264-pipe"}, none, none, true, true},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const SourceFacts facts{row.layout, row.fastDecoderRefusal, row.fifoRefusal, row.chunksWanted, row.burnIn};
    const RoadPlan plan = planRoad(inventory(row.tools), facts, outputs(row.writes));
    if (const auto *expected = std::get_if<NoRoad>(&row.expected)) {
      // Refused before any work, in words that name the missing tool.
      const auto *none = std::get_if<NoRoad>(&plan.road);
      ASSERT_NE(none, nullptr) << describe(plan);
      EXPECT_EQ(none->missingTool, expected->missingTool);
      EXPECT_NE(none->message.find(expected->missingTool), std::string::npos) << none->message;
      continue;
    }
    EXPECT_EQ(plan.road, row.expected) << describe(plan);
    // A road that is not the best one says why.
    for (const std::string &said :
         {row.fastDecoderRefusal.value_or(""), row.fifoRefusal.value_or(""), std::string(row.says)})
      EXPECT_NE(describe(plan).find(said), std::string::npos) << describe(plan);
  }
}

// Another scheduler or other machines get the pieces of a chunked road only:
// asked for anything else, the run is refused before any work, in words
// naming the source, rather than converting the whole film here.
TEST(RoadPlan, ChunkingOptionsTheRoadCannotHonourAreRefused) {
  ChunkingOptions cutOnly, hosts;
  cutOnly.cutOnly = true;
  hosts.hosts = "/home/me/hosts";
  struct Row {
    const char *name;
    Road road;
    ChunkingOptions options;
    const char *refusal; // a word of the refusal; null: honoured
  };
  const Row rows[] = {
      {"an MVC film's chunks to a scheduler", MvcDirectRoad{"edge264-pipe", true, false, true}, cutOnly, nullptr},
      {"an MVC film's side-by-side chunks to other machines", MvcChunkedSideBySideRoad{"edge264-pipe"}, hosts, nullptr},
      {"an MVC film in one piece has nothing to cut", MvcDirectRoad{"edge264-pipe", true, true, false}, cutOnly,
       "--cut-only needs"},
      {"a packed film's chunks to other machines", PackedRoad{true, true}, hosts, nullptr},
      {"a frame-alternate film's chunks to a scheduler", FrameAlternateRoad{false, true, true}, cutOnly, nullptr},
      {"a packed film to side by side has no chunks", PackedRoad{false, false}, hosts,
       "side-by-side or top-and-bottom"},
      {"a frame-alternate film with its side-by-side file has no chunks", FrameAlternateRoad{false, true, false},
       cutOnly, "frame-alternate"},
      {"packed chunks without either option", PackedRoad{true, true}, {}, nullptr},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const auto refusal = chunkingRefusal({row.road, {}}, row.options);
    ASSERT_EQ(refusal.has_value(), row.refusal != nullptr) << refusal.value_or("");
    if (row.refusal) {
      EXPECT_NE(refusal->find(row.refusal), std::string::npos) << *refusal;
    }
  }
}

} // namespace
} // namespace kestrova::pipeline
