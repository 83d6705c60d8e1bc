#pragma once

#include "pipeline/ChunkedEncode.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/ViewDiscovery.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kestrova::pipeline {

/// An MVC film's demuxed views cut where nal-scan finds that decoding can
/// start in the base view (IDR access units, and an open GOP's I pictures
/// with recovery points), by nal-dual-split into each chunk's pair of
/// pieces, each pair interleaved and decoded by `decoder` and encoded as
/// `output` says. A piece that ends before an open GOP goes on to that
/// GOP's I picture; its chunk job keeps only its own pictures.
/// Throws ConversionError::toolNotFound when a tool of the chunk jobs is
/// missing.
ChunkCutter viewCutter(const PipelineEngine &engine, const std::string &decoder, const ViewFiles &views,
                       ChunkOutput output);

/// The access units (frame pairs) of a demuxed base view, as nal-scan counts
/// them; nothing when nal-scan is not installed or cannot read the view.
std::optional<std::int64_t> baseViewPictures(const PipelineEngine &engine, const std::filesystem::path &baseView);

} // namespace kestrova::pipeline
