#pragma once

#include <filesystem>

namespace kestrova::pipeline {

class PipelineEngine;

/// Interleaves the base view and the MVC view into one Annex B stream at
/// `output` for the decoder, with the engine's log as the interleaver's log
/// and the engine's cancellation as its stop signal. Verbose lines name the
/// inputs and, on success, the output. Errors pass through unchanged.
void interleaveNALUnits(PipelineEngine &engine, const std::filesystem::path &base, const std::filesystem::path &mvc,
                        const std::filesystem::path &output);

} // namespace kestrova::pipeline
