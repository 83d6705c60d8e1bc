#pragma once

#include "pipeline/PipelineRun.h"
#include "pipeline/SubtitleChoice.h"

#include <filesystem>
#include <vector>

namespace kestrova::pipeline {

/// The subtitle tracks of the run's source: a disc's from its playlist, a
/// file's as ffprobe lists them (none when ffprobe cannot read it).
std::vector<SubtitleTrack> sourceSubtitleTracks(const PipelineRun &run);

/// Before any work: decides which track the run burns in and on which
/// plane, with the lines the log should say about it (the caller logs
/// them). Throws SourceError when the job names a track the source does
/// not have.
SubtitleChoice chooseRunSubtitles(const PipelineRun &run);

/// After the demux: copies the chosen track out of the run's track source
/// into a .sup in the work folder, and the offset tables of `mvcView` (the
/// demuxed MVC view, which may be deleted before the pictures are stacked)
/// into a small file beside it, then sets run.burnIn. A track ffmpeg cannot
/// copy leaves run.burnIn empty, and depth the tables cannot give leaves the
/// fixed depth; the log says which. Throws ConversionError when ffmpeg is missing.
void prepareBurnIn(PipelineRun &run, const SubtitleChoice &choice, const std::filesystem::path &mvcView);

/// Logs that a source of a packed or frame-alternate layout gets no
/// subtitles burned in, when the job names a track.
void noteSubtitlesNotBurned(const PipelineRun &run);

/// Copies from the Annex B stream `view` into `out` what the offset reader
/// needs: every SEI unit whole, and the header bytes of each MVC-view slice
/// that starts a picture, so the tables' lengths can still be checked.
/// Throws FileAccessError when either file cannot be read or written.
void copyOffsetUnits(const std::filesystem::path &view, const std::filesystem::path &out);

} // namespace kestrova::pipeline
