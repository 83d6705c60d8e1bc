#pragma once

#include "pipeline/ChunkJob.h"
#include "tools/ToolLocator.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::pipeline {

class PipelineEngine;

/// One chunk job for GNU parallel: the chunk's pieces and output, named
/// relative to the folder parallel runs from, and its picture count.
struct ParallelChunk {
  int index = 0;
  std::string basePiece; ///< the base view's piece, or the one piece of a packed or frame-alternate film
  std::string mvcPiece;  ///< the MVC view's piece; empty for a packed or frame-alternate film
  std::string output;
  std::int64_t pairs = 0;
  std::string burnIn;                   ///< the chunk's burn-in word (ChunkBurnIn::canonical); empty: none
  std::vector<std::string> sharedFiles; ///< files of the folder every job reads, sent once to each machine
};

/// The plain command that encodes `chunk` with `picture` (its paths as
/// given), for a scheduler's command list; "-" stands for a missing MVC piece.
std::string encodeChunkCommand(const ParallelChunk &chunk, const ChunkPictureSettings &picture);

/// What `kestrova --version` prints: `versionLine`, then the MVC decoders
/// that `locator` finds ("MVC decoders: edge264-pipe ldecod-pipe", "none"
/// without either), by which a run learns whether another machine can take
/// chunks that only edge264 starts decoding.
std::string versionAnswer(const std::string &versionLine, const tools::ToolLocator &locator);

/// Whether a machine whose `kestrova --version` printed `answer` can take a
/// run's chunk jobs: the same first line as this machine's `version`, and
/// edge264-pipe among its decoders when `needsFastDecoder`.
enum class HostFit { takesPart, otherKestrova, noFastDecoder };
HostFit hostFit(std::string_view answer, std::string_view version, bool needsFastDecoder);

/// The ssh logins of GNU parallel's login file `hostsFile` (comments and
/// blank lines left out) that fit (hostFit) this machine's `version` answer;
/// each other login is logged by name, with why, and left out. The local
/// machine (":") is first, with `localJobs` jobs, unless `localJobs` is 0.
/// Throws ConversionError::encodingFailed when no machine is left.
std::vector<std::string> usableLogins(const PipelineEngine &engine, const std::filesystem::path &hostsFile,
                                      const std::string &version, int localJobs, bool needsFastDecoder);

/// Runs the chunk jobs as `kestrova --encode-chunk` commands through GNU
/// parallel over `logins`, from the folder `from` (its login and job lists
/// are written into `lists`): each job's pieces are sent to its machine, to
/// the same path under the login's home folder, and its chunk and record
/// returned (`--transferfile`, `--return`, `--cleanup`), the shared files
/// (subtitles to burn in) once to each machine (`--basefile`); a job that
/// fails is retried, on another machine when there is one. Chunk paths that
/// name the run's own work folder keep two runs on one machine apart. GNU
/// parallel's job log stays in `lists` (see chunkMachines).
/// `program` is the kestrova of this machine; other machines run the
/// `kestrova` of their PATH.
/// `onFrames(index, done)` receives each job's progress. Returns when every
/// job has ended; which chunks are whole is for the caller to check. Throws
/// ConversionError::toolNotFound without GNU parallel, cancelled on a stop.
void runChunksThroughParallel(PipelineEngine &engine, const std::filesystem::path &from,
                              const std::filesystem::path &lists, const std::vector<ParallelChunk> &chunks,
                              const ChunkPictureSettings &picture, const std::vector<std::string> &logins,
                              const std::string &program, const std::function<void(int, std::int64_t)> &onFrames);

/// The machine that wrote the chunk file named `chunkName` by GNU parallel's
/// job log `jobLog`: the login of the last job that ended well and whose
/// command names the file (":" is this machine); nothing without such a job.
std::optional<std::string> machineOfChunk(std::string_view jobLog, std::string_view chunkName);

/// " (chunk_003.hevc was encoded on LOGIN, ...)" for each chunk file that
/// `reason` names and the job log GNU parallel left in `lists` knows; empty
/// when it knows none.
std::string chunkMachines(const std::filesystem::path &lists, const std::string &reason);

} // namespace kestrova::pipeline
