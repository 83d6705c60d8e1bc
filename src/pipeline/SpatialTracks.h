#pragma once

#include "analysis/MediaTracks.h"
#include "pipeline/PipelineRun.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kestrova::pipeline {

/// Whether the MV-HEVC converter's usage text (`usage`, what it prints when
/// started without arguments) offers several audio tracks and chapters.
bool usageTakesTracks(const std::string &usage);

/// The converter's arguments for the audio tracks `audio` of `file` (each
/// with its absolute stream index in `file` and language; the first is the
/// one played) and, when `chapterList` is not empty, its chapter list.
std::vector<std::string> converterTrackArguments(const std::filesystem::path &file,
                                                 const std::vector<analysis::MediaTrack> &audio,
                                                 const std::filesystem::path &chapterList);

/// The sound and chapter arguments of a Vision Pro run's converter call: the
/// run's tracks read from `file`, which is the run's track source, or (when
/// `fromSideBySide`) the side-by-side intermediate whose audio tracks follow
/// its one video stream in the same order. Empty when the run's converter
/// takes one sound track only (the caller then keeps its single-track call);
/// logs which subtitle track is burned into the pictures and what the
/// MV-HEVC file cannot hold (other subtitles, sound tracks beyond the first).
std::vector<std::string> spatialTrackArguments(PipelineRun &run, const std::filesystem::path &file,
                                               bool fromSideBySide);

} // namespace kestrova::pipeline
