#include "pipeline/FifoPipeline.h"

#include "nal/NALInterleaver.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/SbsPipeDecode.h"

#include <functional>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

InterleaverWorker::InterleaverWorker(PipelineEngine &engine, fs::path base, fs::path mvc, fs::path fifo)
    : thread_(
          [this, &engine, base = std::move(base), mvc = std::move(mvc), fifo = std::move(fifo)](std::stop_token stop) {
            try {
              nal::NALInterleaver().interleave(
                  base, mvc, fifo, [&engine](const std::string &line) { engine.log(line); }, stop);
              engine.verbose("Interleaver finished writing to FIFO");
            } catch (const std::exception &error) {
              error_ = std::current_exception();
              engine.verbose(std::string("Interleaver error: ") + error.what());
            }
          }) {
  onCancel_.emplace(engine.stopToken(), [this] { thread_.request_stop(); });
}

InterleaverWorker::~InterleaverWorker() {
  onCancel_.reset();
  if (thread_.joinable()) {
    thread_.request_stop();
    thread_.join();
  }
}

std::exception_ptr InterleaverWorker::finish() {
  if (thread_.joinable()) {
    thread_.request_stop();
    thread_.join();
  }
  return error_;
}

void runFifoPipeline(PipelineEngine &engine, const fs::path &base, const fs::path &mvc,
                     const StreamDecodeRequest &request, const ProgressReport &progress) {
  if (progress)
    progress(ConversionStage::interleaving, 0.3);
  InterleaverWorker worker(engine, base, mvc, request.input);
  engine.verbose("Starting decode pipeline (reads from FIFO)...");
  // A failing decoder leaves by this throw; the worker's destructor stops the
  // interleaver, which has lost its reader anyway.
  decodeSBSPipe(engine, request, progress);
  if (auto error = worker.finish())
    std::rethrow_exception(error);
  std::error_code ignored;
  fs::remove(request.input, ignored);
}

} // namespace kestrova::pipeline
