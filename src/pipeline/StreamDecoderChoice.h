#pragma once

#include <filesystem>
#include <string>

namespace kestrova::pipeline {

class PipelineEngine;

/// The streaming decoders, both taking the same command line and writing
/// the same view pairs and progress lines.
inline constexpr const char *kFastStreamDecoder = "edge264-pipe"; ///< edge264, linked in
inline constexpr const char *kJmStreamDecoder = "ldecod-pipe";    ///< drives the JM decoder

/// The streaming decoder for a source's two view files: edge264-pipe when it
/// is in the tools folder and its check of the views (a few pairs decoded,
/// nothing written) passes, else ldecod-pipe. Runs the check as the engine's
/// current process, so cancel() ends it. Logs the decoder used and, when the
/// fast one was passed over, why in its own words. A cancel during the check
/// gives ldecod-pipe; the caller tests for cancellation next.
std::string chooseStreamDecoder(PipelineEngine &engine, const std::filesystem::path &base,
                                const std::filesystem::path &mvc);

} // namespace kestrova::pipeline
