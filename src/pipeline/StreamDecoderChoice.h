#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kestrova::pipeline {

class PipelineEngine;

/// The streaming decoders, both taking the same command line and writing
/// the same view pairs and progress lines.
inline constexpr const char *kFastStreamDecoder = "edge264-pipe"; ///< edge264, linked in
inline constexpr const char *kJmStreamDecoder = "ldecod-pipe";    ///< drives the JM decoder

/// Runs edge264-pipe's check of a source's two view files (a few pairs
/// decoded, nothing written) as the engine's current process, so cancel()
/// ends it. Returns why it cannot decode them, in its own words (or why it
/// could not be started); none when the check passes, or when the run was
/// cancelled meanwhile (the caller tests for cancellation next). The road
/// plan takes the answer as a fact about the source.
std::optional<std::string> fastDecoderRefusal(PipelineEngine &engine, const std::filesystem::path &base,
                                              const std::filesystem::path &mvc);

} // namespace kestrova::pipeline
