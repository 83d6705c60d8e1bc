#include "app/EngineRunner.h"

#include "core/Errors.h"
#include "pipeline/PipelineRun.h"
#include "pipeline/RoadPlan.h"
#include "pipeline/RunScope.h"
#include "pipeline/SideBySidePipeline.h"

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
    engine->armRun();
    const pipeline::RoadPlan plan =
        pipeline::planRoad(pipeline::takeInventory(*engine), {run.stereoMode, std::nullopt, std::nullopt}, run.outputs);
    if (const auto *none = std::get_if<pipeline::NoRoad>(&plan.road))
      throw ConversionError::toolNotFound(none->message);
    pipeline::RunScope scope(run, job.keepWork);
    engine->log(pipeline::describe(plan));
    return scope.runAndCommit([&run] { return pipeline::runSideBySidePipeline(run); });
  };
  return runner;
}

} // namespace kestrova::app
