#pragma once

#include "pipeline/StreamDecodeRequest.h"
#include "pipeline/ToolOutputParsers.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <thread>

namespace kestrova::pipeline {

class PipelineEngine;

/// The interleaver writing the two views into a FIFO on its own thread,
/// while the caller's decoder reads the other end. Its error, if any, is
/// kept for the caller to raise once the decoder has finished. Destroying a
/// worker that has not finished stops it (it notices at the next pair, or
/// while it waits for a reader) and joins it, so no thread outlives a run.
class InterleaverWorker {
public:
  InterleaverWorker(PipelineEngine &engine, std::filesystem::path base, std::filesystem::path mvc,
                    std::filesystem::path fifo);
  ~InterleaverWorker();
  InterleaverWorker(const InterleaverWorker &) = delete;
  InterleaverWorker &operator=(const InterleaverWorker &) = delete;

  /// Called once the decoder has ended: waits for the interleaver and
  /// returns its error, if it failed. A decoder that ended normally has
  /// read the FIFO to its end, so the interleaver's outcome is settled; one
  /// that ended early can take nothing more. Either way a worker still
  /// waiting for a reader or writing would wait in vain, so it is stopped.
  std::exception_ptr finish();

private:
  std::exception_ptr error_; // written by the worker only, read after join
  std::jthread thread_;
  // Declared after the thread so that it goes first: a cancel of the
  // conversion also stops the worker.
  std::optional<std::stop_callback<std::function<void()>>> onCancel_;
};

/// The FIFO variant: the interleaver fills `fifo` (already made) from the
/// two view files while the zero-disk pipe decodes from it (`request.input`
/// is the FIFO). A decoder failure is raised at once; an interleaver failure
/// is raised after the decoder has finished, even when it succeeded. On
/// success the FIFO is gone; the view files are left to the caller.
void runFifoPipeline(PipelineEngine &engine, const std::filesystem::path &base, const std::filesystem::path &mvc,
                     const StreamDecodeRequest &request, const ProgressReport &progress);

} // namespace kestrova::pipeline
