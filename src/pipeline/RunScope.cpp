#include "pipeline/RunScope.h"
#include "pipeline/ChunkedEncode.h"

#include "core/Errors.h"
#include "pipeline/WorkSpace.h"
#include "tools/RunLock.h"

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

bool saysNoSpace(const std::exception &error) {
  if (const auto *fsError = dynamic_cast<const fs::filesystem_error *>(&error))
    if (fsError->code() == std::errc::no_space_on_device)
      return true;
  return std::string_view(error.what()).find("No space left on device") != std::string_view::npos;
}

// Called inside a catch block. A tool that ran out of space rarely says so
// in its exit status; a file system left with (next to) nothing free while
// the partial outputs are still there is taken as the reason too.
[[noreturn]] void rethrowNamingSpace(const fs::path &folder) {
  try {
    throw;
  } catch (const std::exception &error) {
    throwIfOutOfSpace(error, folder);
    auto available = freeBytes(folder);
    if (available && *available < 64 * 1024)
      throw NoSpaceError(folder);
    throw;
  }
}

} // namespace

void throwIfOutOfSpace(const std::exception &error, const fs::path &folder) {
  if (saysNoSpace(error))
    throw NoSpaceError(folder);
}

RunScope::RunScope(PipelineRun &run, bool keepWork) : run_(run) {
  PipelineEngine &engine = run.engine;
  LogFn verbose = [&engine](const std::string &line) { engine.verbose(line); };
  LogFn log = [&engine](const std::string &line) { engine.log(line); };
  std::vector<fs::path> outputs = run.outputs.files();
  for (auto &file : outputs)
    file = fs::absolute(file);
  tools::NewWorkDirectory created;
  try {
    created = tools::createWorkDirectory(run.job.outputDirectory, verbose, outputs);
  } catch (const fs::filesystem_error &error) {
    throwIfOutOfSpace(error, run.job.outputDirectory);
    throw;
  }
  run.workDirectory = created.path;
  guard_.emplace(
      run.workDirectory, [&run] { return run.succeeded; }, [&engine] { return engine.isCancelled(); }, verbose, log,
      keepWork, std::move(created.lock));
  // With this run's lock in place, two runs that start at once see each other.
  // A dead run's chunks are kept for the next run of the same conversion.
  const tools::LeftoverSweep sweep =
      tools::sweepLeftovers(run.job.outputDirectory, {kChunkFolderName}, run.workDirectory);
  tools::logSweep(sweep, log);
  tools::refuseBusyOutputs(sweep, tools::ProcessIdentity::self(), outputs);
  engine.setWorkDirectory(run.workDirectory);
  engine.setRunLog(run.workDirectory / tools::kRunLogName);
  run.staging.emplace(run.workDirectory.filename().string(), run.job.replaceExisting);
}

RunScope::~RunScope() {
  // Temporary outputs go before the work folder is judged.
  run_.staging.reset();
  run_.engine.setRunLog({});
  run_.engine.setWorkDirectory({});
}

ConversionResult RunScope::runAndCommit(const std::function<ConversionResult()> &road) {
  PipelineEngine &engine = run_.engine;
  // Every tool writes under the output folder (the work folder is inside
  // it): one that fills its file system is stopped there.
  const SpaceWatch watch(engine, run_.job.outputDirectory, kRunSpaceFloor);
  try {
    ConversionResult result = road();
    watch.throwIfTripped();
    run_.succeeded = false;
    if (engine.isCancelled())
      throw ConversionError::cancelled();
    run_.staging->commit();
    run_.succeeded = true;
    // Only now: the outputs are there under their names.
    run_.report(ConversionStage::complete, 1.0);
    return result;
  } catch (const ChunksCutOnly &) {
    // Done as asked: no movie, and the chunks wait in a folder of their own,
    // so this run's folder goes like a finished run's.
    run_.succeeded = true;
    throw;
  } catch (...) {
    run_.succeeded = false;
    if (engine.isCancelled())
      throw ConversionError::cancelled();
    engine.logToolFailure();
    if (watch.full())
      throw NoSpaceError(run_.job.outputDirectory);
    // Whatever a tool said, a source that went away is the reason.
    std::error_code ec;
    if (!fs::exists(run_.job.sourceURL, ec))
      throw SourceError("the source " + run_.job.sourceURL.string() +
                        " was deleted or moved during the conversion; nothing was written under the output's name");
    // A tool that said so on its standard error but not in its exit status.
    if (const auto process = engine.currentProcess(); process && process->pid() != 0 && !process->isRunning())
      for (const auto &line : process->errorTail())
        if (line.find("No space left on device") != std::string::npos)
          throw NoSpaceError(run_.job.outputDirectory);
    rethrowNamingSpace(run_.job.outputDirectory);
  }
}

} // namespace kestrova::pipeline
