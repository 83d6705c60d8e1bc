#include "pipeline/InterleaveStep.h"

#include "nal/NALInterleaver.h"
#include "pipeline/PipelineEngine.h"

namespace kestrova::pipeline {

void interleaveNALUnits(PipelineEngine &engine, const std::filesystem::path &base, const std::filesystem::path &mvc,
                        const std::filesystem::path &output) {
  engine.verbose("Interleaving NAL units from " + base.filename().string() + " + " + mvc.filename().string());
  nal::NALInterleaver().interleave(
      base, mvc, output, [&engine](const std::string &line) { engine.log(line); }, engine.stopToken());
  engine.verbose("Wrote interleaved stream to: " + output.string());
}

} // namespace kestrova::pipeline
