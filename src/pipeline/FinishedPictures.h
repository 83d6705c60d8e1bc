#pragma once

#include <cstdint>
#include <filesystem>

namespace kestrova::pipeline {

struct PipelineRun;

/// Whether `held` pictures fall short of a film of `film`: more than one is
/// missing (a source cut inside its last access unit still counts that
/// one, which no decoder gives). Never when the film was not counted (0).
/// The one rule for every decoder's and every finished file's count.
bool missesPictures(std::int64_t held, std::int64_t film);

/// The pictures of the first video track of `file`, as ffprobe counts its
/// packets (one packet an MV-HEVC picture pair, one a side-by-side
/// picture), as the engine's current process (cancel() ends it). Throws
/// ConversionError::encodingFailed, in ffprobe's words, for a file it
/// cannot read.
std::int64_t countFilePictures(PipelineRun &run, const std::filesystem::path &file);

/// Before the outputs get their names: every finished file of an MVC run
/// must hold all the pictures the demuxed base view holds. A tool that ends
/// early and still exits with status 0 (a decoder's output cut off, an
/// encoder that stopped reading) would otherwise leave a film without its
/// end under a name that says it is finished. Throws
/// ConversionError::encodingFailed naming the file and both counts; one
/// picture short (a source that ends inside its last access unit) is only
/// said in the log. Runs only where the count is known
/// (`run.basePictures`); outputs not written are left to the commit to name.
void checkFinishedPictures(PipelineRun &run);

/// For runs whose source was not counted picture by picture (side-by-side
/// and frame-alternate films, which ffmpeg or the converter read to their
/// end): a finished file much shorter than the source's container says it
/// lasts means the source ends early (a download or copy that did not
/// finish, a damaged end). Said in the log as for an MVC source; the file
/// keeps what there was. Throws ConversionError::encodingFailed for a file
/// ffprobe cannot read.
void checkFinishedLength(PipelineRun &run);

} // namespace kestrova::pipeline
