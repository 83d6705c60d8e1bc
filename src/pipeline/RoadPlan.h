#pragma once

#include "core/Records.h"
#include "core/Stereo3DMode.h"
#include "pipeline/MvcVariant.h"
#include "pipeline/OutputPlan.h"

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kestrova::tools {
class StepContext;
}

namespace kestrova::pipeline {

/// The tools of the tools folder that decide a road, looked up once.
struct ToolInventory {
  bool edge264Pipe = false;     ///< the fast streaming MVC decoder
  bool ldecodPipe = false;      ///< the JM decoder as a streaming decoder
  bool ldecod = false;          ///< the JM decoder itself (decodes to YUV files)
  bool yuvHstack = false;       ///< stacks decoded view pairs side by side
  bool mvhevcConverter = false; ///< writes MV-HEVC for Apple Vision Pro
  /// parallel-pipeline.sh, when it and nal-scan lie beside ldecod-pipe.
  std::optional<std::filesystem::path> parallelScript;
  /// nal-dual-split and nal-interleave beside ldecod-pipe.
  bool dualSplitTools = false;
  /// nal-scan, nal-dual-split and nal-interleave in the tools folder, which
  /// cut a film into chunks and make each chunk's stream.
  bool chunkTools = false;
};

/// Looks the road's tools up through `tools` (and beside ldecod-pipe for the
/// segment script and its helpers). The only part of planning that looks at
/// the machine.
ToolInventory takeInventory(const tools::StepContext &tools);

/// What is known of the source when a road is planned. The two facts about
/// MVC views are learnt only once the views exist; until then they are
/// taken as the likely case, and the road is planned again with what was found.
struct SourceFacts {
  Stereo3DMode layout = Stereo3DMode::none();
  /// Why edge264-pipe's check of the views refused them; none while it passed
  /// or has not run.
  std::optional<std::string> fastDecoderRefusal;
  /// Why no FIFO could be made, in the work folder nor in a scratch folder;
  /// none while one could or none was tried.
  std::optional<std::string> fifoRefusal;
  /// The film is worth cutting into chunks encoded at once (long enough, or
  /// jobs or hosts were asked for) and nothing rules chunks out.
  bool chunksWanted = false;
  /// A subtitle track is to be burned into both eyes: only the roads that
  /// hand every picture pair, knowing its place in the film, to yuv_hstack or
  /// MVHEVCConverter can; without one the conversion is refused.
  bool burnIn = false;
};

/// No road can make the planned outputs: a tool is missing. Found before any work.
struct NoRoad {
  std::string missingTool; ///< the tool's name as it lies in the tools folder
  std::string message;     ///< for the user: what is missing, what it is for, how to get it

  bool operator==(const NoRoad &) const = default;
};

/// MVC to Vision Pro in one encode: the decoder's view pairs go straight into
/// MVHEVCConverter (and into a side-by-side encoder at the same time when
/// that file is kept). Runs the converter once and fails, naming it, when it
/// leaves no file.
struct MvcDirectRoad {
  std::string decoder;
  bool throughFifo = true; ///< interleaver to decoder through a FIFO, else through a file
  bool keepSideBySide = false;
  /// Cut at IDR units into chunks, each decoded and encoded on its own (K at
  /// once, resumable) and joined into one file; never with a side-by-side
  /// file, whose encoder this road feeds from the same decode.
  bool chunked = false;

  bool operator==(const MvcDirectRoad &) const = default;
};

/// MVC decoded into a side-by-side file by one of the variants, then for
/// Vision Pro converted from that file by MVHEVCConverter, once.
struct MvcSideBySideRoad {
  MvcVariant variant = MvcVariant::diskBased;
  std::string decoder; ///< the streaming decoder (variants A–D) or "ldecod" (E)
  /// The segment script, for variants A and B.
  std::optional<std::filesystem::path> parallelScript;
  bool thenMvhevc = false;

  bool operator==(const MvcSideBySideRoad &) const = default;
};

/// MVC to a full side-by-side file in chunks: cut at IDR units, each chunk
/// decoded, stacked by yuv_hstack and encoded by ffmpeg into a segment on its
/// own (K at once, resumable), the segments joined by ffmpeg's concat without
/// encoding them again and the sound encoded once over the whole film.
struct MvcChunkedSideBySideRoad {
  std::string decoder; ///< the streaming decoder each chunk job runs

  bool operator==(const MvcChunkedSideBySideRoad &) const = default;
};

/// Frame-alternate source: pictures paired into a side-by-side file, then for
/// Vision Pro converted from it.
struct FrameAlternateRoad {
  bool rightFirst = false;
  bool thenMvhevc = false;
  /// For Vision Pro without a side-by-side file: cut at key frames between
  /// pairs into chunks, each chunk's pictures decoded by ffmpeg and handed to
  /// MVHEVCConverter as pairs (K at once, resumable), joined; one encode of
  /// the pictures instead of two, and the film's longest step in chunks.
  bool chunked = false;

  bool operator==(const FrameAlternateRoad &) const = default;
};

/// A source that packs both eyes into each picture: copied or encoded once to
/// full side by side, or read as it is packed by MVHEVCConverter.
struct PackedRoad {
  bool toMvhevc = false;
  /// For Vision Pro: cut at key frames into chunks (the coded pictures
  /// copied, not encoded), each read as it is packed by MVHEVCConverter on
  /// its own (K at once, resumable), joined.
  bool chunked = false;

  bool operator==(const PackedRoad &) const = default;
};

/// One road a conversion can take. A new road is a new alternative here, one
/// row more in planRoad and one case more in the run's dispatch.
using Road =
    std::variant<NoRoad, MvcDirectRoad, MvcSideBySideRoad, MvcChunkedSideBySideRoad, FrameAlternateRoad, PackedRoad>;

/// The road and why it is not a better one (a tool missing, a fact found).
struct RoadPlan {
  Road road;
  std::vector<std::string> reasons;

  bool operator==(const RoadPlan &) const = default;
};

/// The road from the tools present, what is known of the source and the
/// files to write. Pure: the same inputs give the same plan.
RoadPlan planRoad(const ToolInventory &tools, const SourceFacts &source, const OutputPlan &outputs);

/// "Road: ..." as the log prints it, with the reasons after it.
std::string describe(const RoadPlan &plan);

/// Why the chunking options cannot be honoured on `plan`'s road: --cut-only
/// needs chunks to leave (a chunked road); a side-by-side, top-and-bottom or
/// frame-alternate film has chunks (and so goes to other machines) only on
/// its way to Vision Pro alone; nothing when they can be honoured. Found
/// before any work, so that nothing converts the whole film here instead.
std::optional<std::string> chunkingRefusal(const RoadPlan &plan, const ChunkingOptions &options);

} // namespace kestrova::pipeline
