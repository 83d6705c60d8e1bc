#pragma once

#include "core/OutputOptions.h"
#include "tools/PrivateFolder.h"

#include <filesystem>
#include <optional>
#include <string>

namespace kestrova::pipeline {

class PipelineEngine;

/// The five ways of getting from two view files to a side-by-side file.
enum class MvcVariant {
  dualSplitParallel, ///< the segment-parallel script splits both views itself
  parallel,          ///< interleave to a file, then the segment-parallel script
  fifo,              ///< interleaver and streaming decoder meet at a FIFO
  pipeFromFile,      ///< interleave to a file, then the streaming decoder
  diskBased,         ///< interleave, ldecod to YUV files, then encode
};

/// The variant to run and what it needs.
struct MvcDecision {
  MvcVariant variant = MvcVariant::diskBased;
  /// The streaming decoder helper of the streaming variants.
  std::string decoder = "ldecod-pipe";
  /// The segment-parallel script, for the two parallel variants.
  std::optional<std::string> parallelScript;
  /// Where the FIFO was made (every variant but D and E).
  std::filesystem::path fifo;
  /// The private scratch folder holding the FIFO when the work directory's
  /// file system has none; removed with the decision.
  std::optional<tools::PrivateFolder> fifoFolder;
};

/// Makes the FIFO at `fifo`, else, on a file system without FIFOs (exFAT),
/// in a private scratch folder, and records it in `decision`; false (and a
/// line in the normal log) when neither place allows one.
bool placeFifo(PipelineEngine &engine, const std::filesystem::path &fifo, MvcDecision &decision);

/// Chooses the variant by the tools present: the streaming decoder
/// `decoder` and the stacker first (else disk-based), then whether a FIFO
/// can be made at `fifo` or, on a file system without FIFOs (exFAT), in a
/// private scratch folder (else pipe from file), then the parallel script
/// and its dual-split tools (else FIFO). The segment-parallel script pays
/// off only for the single-threaded JM decoder, so with edge264-pipe the
/// single FIFO pipeline is taken. Leaves a FIFO at the decision's `fifo` for
/// every variant but D and E, and logs the decision, a fallback in the
/// normal log with its reason.
MvcDecision chooseMvcVariant(PipelineEngine &engine, const std::filesystem::path &fifo, OutputTarget target,
                             const std::string &decoder = "ldecod-pipe");

} // namespace kestrova::pipeline
