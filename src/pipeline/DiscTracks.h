#pragma once

#include "demux/Demux.h"
#include "pipeline/PipelineRun.h"

namespace kestrova::pipeline {

/// Demuxes a disc run's playlist with tsMuxeR (it joins the clips): both
/// views, and every audio and subtitle stream the playlist lists. Then joins
/// those streams, with the playlist's languages, the first audio track as the
/// default and the playlist's chapters ("Chapter N"), into `tracks.mkv` in the
/// work folder, and sets run.trackSource and run.tracks to it. Streams tsMuxeR
/// cannot demux are logged and left out. Throws ConversionError.
void demuxDiscTitle(PipelineRun &run, const demux::DemuxProgress &progress = {});

/// The chapters of a disc title that start before `limit` seconds (all when
/// absent), each ending where the next starts and the last at the end.
std::vector<analysis::Chapter> discChapters(const disc::Playlist &playlist, std::optional<std::int64_t> limit);

} // namespace kestrova::pipeline
