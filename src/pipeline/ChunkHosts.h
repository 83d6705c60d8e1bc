#pragma once

#include "pipeline/ChunkJob.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kestrova::pipeline {

class PipelineEngine;

/// One chunk job for GNU parallel: the chunk's pieces and output, named
/// relative to the chunk folder, and its picture count.
struct ParallelChunk {
  int index = 0;
  std::string basePiece;
  std::string mvcPiece;
  std::string output;
  std::int64_t pairs = 0;
  std::string burnIn;                   ///< the chunk's burn-in word (ChunkBurnIn::canonical); empty: none
  std::vector<std::string> sharedFiles; ///< files of the folder every job reads, sent once to each machine
};

/// The ssh logins of GNU parallel's login file `hostsFile` (comments and
/// blank lines left out) whose `kestrova --version` answers exactly
/// `version`; each other login is logged by name and left out. The local
/// machine (":") is always first, with `localJobs` jobs.
std::vector<std::string> usableLogins(const PipelineEngine &engine, const std::filesystem::path &hostsFile,
                                      const std::string &version, int localJobs);

/// Runs the chunk jobs as `kestrova --encode-chunk` commands through GNU
/// parallel over `logins` (a login file is written into `folder`), from
/// `folder`: each job's pieces are sent to its machine and its chunk and
/// record returned (`--transferfile`, `--return`, `--cleanup`), the shared
/// files (subtitles to burn in) once to each machine (`--basefile`); a job that
/// fails is retried, on another machine when there is one. `program` is the
/// kestrova of this machine; other machines run the `kestrova` of their PATH.
/// `onFrames(index, done)` receives each job's progress. Returns when every
/// job has ended; which chunks are whole is for the caller to check. Throws
/// ConversionError::toolNotFound without GNU parallel, cancelled on a stop.
void runChunksThroughParallel(PipelineEngine &engine, const std::filesystem::path &folder,
                              const std::vector<ParallelChunk> &chunks, const ChunkPictureSettings &picture,
                              const std::vector<std::string> &logins, const std::string &program,
                              const std::function<void(int, std::int64_t)> &onFrames);

} // namespace kestrova::pipeline
