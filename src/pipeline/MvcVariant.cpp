#include "pipeline/MvcVariant.h"

#include "pipeline/PipelineEngine.h"
#include "pipeline/StreamDecoderChoice.h"

#include <cerrno>
#include <sys/stat.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

MvcDecision chooseMvcVariant(PipelineEngine &engine, const fs::path &fifo, OutputTarget target,
                             const std::string &decoder) {
  if (!engine.findTool(decoder) || !engine.findTool("yuv_hstack"))
    return {MvcVariant::diskBased, decoder, std::nullopt};

  std::error_code ignored;
  fs::remove(fifo, ignored);
  if (::mkfifo(fifo.c_str(), 0644) != 0) {
    engine.verbose("\u26a0\ufe0f mkfifo failed (errno " + std::to_string(errno) + ") \u2014 falling back to temp file");
    return {MvcVariant::pipeFromFile, decoder, std::nullopt};
  }
  if (decoder == kFastStreamDecoder) {
    engine.log("\u2705 Using FIFO pipeline with " + decoder + " (faster than the segment-parallel JM script)");
    engine.log("=== Steps 2+3+4: FIFO pipeline \u2014 interleave \u2192 decode \u2192 encode (concurrent) ===");
    engine.verbose("FIFO created at: " + fifo.filename().string());
    return {MvcVariant::fifo, decoder, std::nullopt};
  }

  auto script = engine.parallelPipelineScriptPath();
  engine.log("Pipeline decision: parallelPipelineScriptPath = " + script.value_or("nil"));
  if (script) {
    const char *suffix = target == OutputTarget::visionPro ? " [DIRECT MV-HEVC]" : " [SBS]";
    if (engine.hasDualSplitTools()) {
      engine.log("\u2705 Using PARALLEL pipeline with DUAL-SPLIT (" + *script + ")" + suffix);
      return {MvcVariant::dualSplitParallel, decoder, script};
    }
    engine.log("\u2705 Using PARALLEL pipeline (" + *script + ")" + suffix);
    return {MvcVariant::parallel, decoder, script};
  }
  engine.log("\u26a0\ufe0f Parallel pipeline NOT found \u2014 using single-threaded FIFO pipeline");
  engine.log("=== Steps 2+3+4: FIFO pipeline \u2014 interleave \u2192 decode \u2192 encode (concurrent) ===");
  engine.verbose("FIFO created at: " + fifo.filename().string());
  return {MvcVariant::fifo, decoder, std::nullopt};
}

} // namespace kestrova::pipeline
