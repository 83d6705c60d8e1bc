#pragma once

#include "tools/PrivateFolder.h"

#include <filesystem>
#include <optional>
#include <string>

namespace kestrova::pipeline {

class PipelineEngine;

/// The five ways of getting from two view files to a side-by-side file.
enum class MvcVariant {
  dualSplitParallel, ///< A: the segment-parallel script splits both views itself
  parallel,          ///< B: interleave to a file, then the segment-parallel script
  fifo,              ///< C: interleaver and streaming decoder meet at a FIFO
  pipeFromFile,      ///< D: interleave to a file, then the streaming decoder
  diskBased,         ///< E: interleave, ldecod to YUV files, then encode
};

/// A FIFO made for one road, with the private scratch folder that holds it
/// when the work folder's file system has none (removed with it).
struct PlacedFifo {
  std::filesystem::path path;
  std::optional<tools::PrivateFolder> folder;
};

/// Makes the FIFO at `fifo`, else, on a file system without FIFOs (exFAT),
/// in a private scratch folder (a line in the normal log says where). When
/// neither place takes one, returns none and sets `refusal` to why.
std::optional<PlacedFifo> placeFifo(PipelineEngine &engine, const std::filesystem::path &fifo, std::string &refusal);

} // namespace kestrova::pipeline
