#pragma once

#include "demux/DemuxMeta.h"
#include "tools/StepContext.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrova::demux {

/// Receives how much of its input tsMuxeR has read, 0 to 1, as it says so.
using DemuxProgress = std::function<void(double)>;

/// The fraction a tsMuxeR line such as "42.5% complete" gives, if it is one.
std::optional<double> tsmuxerFraction(std::string_view line);

/// Splits an MVC source into its base-view (.264) and MVC-view (.mvc)
/// elementary streams in `workDirectory` with tsMuxeR, through a generated
/// demux.meta naming the tracks as tsMuxeR's information run reports them.
/// The demux run is the run's current process, so cancel() ends it.
/// Throws ConversionError (toolNotFound, demuxFailed), the launch error or
/// the file-system error unchanged.
void demux(tools::StepContext &context, const std::filesystem::path &source, const std::filesystem::path &workDirectory,
           bool singleTrack, std::optional<std::int64_t> durationLimit, const DemuxProgress &progress = {});

/// Demuxes a disc playlist with tsMuxeR, which joins its clips: both views
/// (as demux() does) and the `extra` audio and subtitle streams, each to its
/// own elementary file `<playlist>.track_<PID>.<ext>` in `workDirectory`.
/// Throws as demux() does.
void demuxPlaylist(tools::StepContext &context, const std::filesystem::path &playlist,
                   const std::filesystem::path &workDirectory, const std::vector<ExtraTrack> &extra,
                   std::optional<std::int64_t> durationLimit, const DemuxProgress &progress = {});

/// Writes `text` to `file` atomically (temporary file beside it, then rename).
void writeFileAtomically(const std::filesystem::path &file, const std::string &text);

} // namespace kestrova::demux
