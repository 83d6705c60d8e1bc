#pragma once

#include "pipeline/ChunkedEncode.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/ViewDiscovery.h"

#include <string>

namespace kestrova::pipeline {

/// An MVC film's demuxed views cut at the IDR access units nal-scan finds in
/// the base view, by nal-dual-split into each chunk's pair of pieces, each
/// pair interleaved and decoded by `decoder` and encoded as `output` says.
/// Throws ConversionError::toolNotFound when a tool of the chunk jobs is
/// missing.
ChunkCutter viewCutter(const PipelineEngine &engine, const std::string &decoder, const ViewFiles &views,
                       ChunkOutput output);

} // namespace kestrova::pipeline
