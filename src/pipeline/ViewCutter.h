#pragma once

#include "pipeline/ChunkedEncode.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/ViewDiscovery.h"

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

} // namespace kestrova::pipeline
