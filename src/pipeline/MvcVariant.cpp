#include "pipeline/MvcVariant.h"

#include "pipeline/PipelineEngine.h"
#include "pipeline/StreamDecoderChoice.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

bool placeFifo(PipelineEngine &engine, const fs::path &fifo, MvcDecision &decision) {
  std::error_code ignored;
  fs::remove(fifo, ignored);
  if (::mkfifo(fifo.c_str(), 0644) == 0) {
    decision.fifo = fifo;
    return true;
  }
  const int error = errno;
  fs::remove(fifo, ignored); // exfat-fuse leaves a plain file behind
  engine.verbose("\u26a0\ufe0f mkfifo failed (errno " + std::to_string(error) + ") \u2014 falling back to temp file");
  decision.fifoFolder = tools::createFifoFolder(std::nullopt, "kestrova-");
  if (decision.fifoFolder) {
    decision.fifo = decision.fifoFolder->path() / fifo.filename();
    if (::mkfifo(decision.fifo.c_str(), 0600) == 0) {
      engine.log("\u26a0\ufe0f No FIFO in the output folder (" + std::string(std::strerror(error)) +
                 ") \u2014 the FIFO is in " + decision.fifoFolder->path().string());
      return true;
    }
  }
  decision.fifoFolder.reset();
  decision.fifo.clear();
  engine.log("\u26a0\ufe0f No FIFO can be made in the output folder (" + std::string(std::strerror(error)) +
             ") or a temporary folder \u2014 falling back to variant D: decode from an interleaved file");
  return false;
}

MvcDecision chooseMvcVariant(PipelineEngine &engine, const fs::path &fifo, OutputTarget target,
                             const std::string &decoder) {
  MvcDecision decision;
  decision.decoder = decoder;
  if (!engine.findTool(decoder) || !engine.findTool("yuv_hstack")) {
    engine.log("\u26a0\ufe0f " + decoder +
               " or yuv_hstack not found \u2014 falling back to variant E: decode to YUV files on disk");
    decision.variant = MvcVariant::diskBased;
    return decision;
  }
  if (!placeFifo(engine, fifo, decision)) {
    decision.variant = MvcVariant::pipeFromFile;
    return decision;
  }
  if (decoder == kFastStreamDecoder) {
    engine.log("\u2705 Using FIFO pipeline with " + decoder + " (faster than the segment-parallel JM script)");
    engine.log("=== Steps 2+3+4: FIFO pipeline \u2014 interleave \u2192 decode \u2192 encode (concurrent) ===");
    engine.verbose("FIFO created at: " + decision.fifo.filename().string());
    decision.variant = MvcVariant::fifo;
    return decision;
  }

  auto script = engine.parallelPipelineScriptPath();
  engine.log("Pipeline decision: parallelPipelineScriptPath = " + script.value_or("nil"));
  if (script) {
    const char *suffix = target == OutputTarget::visionPro ? " [DIRECT MV-HEVC]" : " [SBS]";
    decision.parallelScript = script;
    if (engine.hasDualSplitTools()) {
      engine.log("\u2705 Using PARALLEL pipeline with DUAL-SPLIT (" + *script + ")" + suffix);
      decision.variant = MvcVariant::dualSplitParallel;
      return decision;
    }
    engine.log("\u2705 Using PARALLEL pipeline (" + *script + ")" + suffix);
    decision.variant = MvcVariant::parallel;
    return decision;
  }
  engine.log("\u26a0\ufe0f Parallel pipeline NOT found \u2014 using single-threaded FIFO pipeline");
  engine.log("=== Steps 2+3+4: FIFO pipeline \u2014 interleave \u2192 decode \u2192 encode (concurrent) ===");
  engine.verbose("FIFO created at: " + decision.fifo.filename().string());
  decision.variant = MvcVariant::fifo;
  return decision;
}

} // namespace kestrova::pipeline
