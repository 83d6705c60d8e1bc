#pragma once

#include "pipeline/ChunkJob.h"
#include "pipeline/ChunkManifest.h"
#include "pipeline/ChunkPlan.h"
#include "pipeline/PipelineRun.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kestrova::pipeline {

/// The folder in a run's work folder that holds its chunks and their
/// manifest; a killed run's folder is kept for the next run with it.
inline constexpr const char *kChunkFolderName = "chunks";
/// The manifest's name inside a chunk folder.
inline constexpr const char *kChunkManifestName = "manifest";

/// Chunk `index`'s encoded file in `folder`, e.g. "chunk_007.hevc".
std::filesystem::path chunkFile(const std::filesystem::path &folder, int index, ChunkOutput output);

/// What identifies the run's source: the file itself, or for a disc its playlist.
SourceIdentity runSourceIdentity(const PipelineRun &run);

/// Takes over the chunk folder of an earlier run of the same conversion that
/// no longer works in the output folder (no lock), when its manifest names
/// the same source, picture settings and burned-in subtitles; that run's
/// folder goes.
void adoptEarlierChunks(const PipelineRun &run, const std::filesystem::path &folder, const SourceIdentity &source,
                        const std::string &settings, const std::string &subtitles);

/// Moves the finished chunks and their manifest into a work folder of their
/// own, without a lock, where the next run of the same conversion finds them;
/// with none finished, `folder` goes. Says which.
void keepForNextRun(const PipelineRun &run, const std::filesystem::path &folder, int finished, int total);

/// The chunks of the plan, with what an earlier run left in `folder`: the
/// resume decision, logged ("Resuming: N of M chunks done"); the chunk files
/// of a run started over are removed.
ResumePlan decideResume(const PipelineRun &run, const std::filesystem::path &folder, const SourceIdentity &source,
                        const ChunkPictureSettings &picture, const std::string &subtitles,
                        const std::vector<ChunkSpan> &chunks);

} // namespace kestrova::pipeline
