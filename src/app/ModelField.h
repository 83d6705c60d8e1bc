#pragma once

namespace kestrova::app {

/// The published fields of ConverterModel; observers are told which one
/// changed.
enum class ModelField {
  sourceFileURL,
  sourceInfo,
  fileInfoMap,
  outputDirectory,
  qualityPreset,
  outputCodec,
  outputTarget,
  debugLimitSeconds,
  keepSBSIntermediate,
  subtitleTrack,
  chunkJobs,
  hostsFile,
  remoteOnly,
  resumedChunks,
  isParsing,
  currentStage,
  progress,
  errorMessage,
  logs,
  isConverting,
  conversionStartTime,
  conversionEndTime,
  fileQueue,
  currentQueueIndex,
  isBatchMode,
  batchCompletedCount,
  lastOutputURL,
  batchOutputURLs,
  estimatedTimeRemaining,
  fileOutcomes,
};

} // namespace kestrova::app
