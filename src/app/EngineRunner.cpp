#include "app/EngineRunner.h"

#include "pipeline/PipelineRun.h"
#include "pipeline/SideBySidePipeline.h"
#include "tools/WorkDirectory.h"

namespace kestrova::app {

ConversionRunner engineConversionRunner(std::shared_ptr<pipeline::PipelineEngine> engine) {
  ConversionRunner runner;
  runner.convert = [engine](const ConversionJob &job, const std::optional<SourceFileInfo> &sourceInfo,
                            pipeline::ProgressHandler progress, LogFn onLog) {
    return engine->convert(job, sourceInfo, std::move(progress), std::move(onLog));
  };
  runner.convertCachedSbs = [engine](const ConversionJob &job, const std::string &baseName,
                                     const std::optional<SourceFileInfo> &sourceInfo,
                                     pipeline::ProgressHandler progress, LogFn) {
    pipeline::PipelineRun run(*engine, job);
    run.stereoMode = Stereo3DMode::sideBySide();
    if (sourceInfo) {
      run.width = sourceInfo->videoWidth;
      run.height = sourceInfo->videoHeight;
      run.frameRateNum = sourceInfo->frameRateNum;
      run.frameRateDen = sourceInfo->frameRateDen;
      run.duration = sourceInfo->duration;
    }
    run.baseName = baseName;
    run.outputs = pipeline::planOutputs(job, run.stereoMode, baseName);
    pipeline::checkOutputs(job, run.outputs);
    run.progress = std::move(progress);
    engine->beginRun();
    LogFn verbose = [engine](const std::string &line) { engine->verbose(line); };
    LogFn log = [engine](const std::string &line) { engine->log(line); };
    run.workDirectory = job.outputDirectory / tools::newWorkDirectoryName();
    std::filesystem::create_directories(run.workDirectory);
    tools::WorkDirectoryGuard cleanup(
        run.workDirectory, [&run] { return run.succeeded; }, [engine] { return engine->isCancelled(); }, verbose, log);
    run.staging.emplace(run.workDirectory.filename().string(), job.replaceExisting);
    auto result = pipeline::runSideBySidePipeline(run);
    run.succeeded = false;
    run.staging->commit();
    run.succeeded = true;
    return result;
  };
  return runner;
}

} // namespace kestrova::app
