#pragma once

#include "pipeline/ToolOutputParsers.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrova::pipeline {

class PipelineEngine;

/// The JM decoder's arguments: the input stream, the output base name and
/// decoding of both views, as six separate arguments.
std::vector<std::string> ldecodArguments(const std::string &inputFile);

/// How ldecod, running in `workDirectory`, should name `stream`: by its
/// file name when it lies there (JM keeps at most 255 characters of a
/// name), else by its absolute path.
std::string decoderInputName(const std::filesystem::path &stream, const std::filesystem::path &workDirectory);

/// Decodes the interleaved stream with ldecod, run in `workDirectory`, into
/// output_ViewId0000.yuv and output_ViewId0001.yuv there. The stream is
/// named directly, never through a link: the work directory may be on a
/// file system without symbolic links (exFAT). ldecod is the engine's current
/// process; its frame lines drive progress over 0.5-0.7 against
/// `estimatedFrames` (both views together). The last lines of its standard
/// error are logged (verbose) after it exits. Throws ConversionError
/// (toolNotFound, decodingFailed for a non-zero exit) or the launch error.
/// Does not check that the views exist.
void decodeWithLdecod(PipelineEngine &engine, const std::filesystem::path &interleavedStream,
                      const std::filesystem::path &workDirectory, std::int64_t estimatedFrames,
                      const ProgressReport &progress);

/// Frames of both views expected in `seconds` at the given rate: twice the
/// per-view count, at least 1.
std::int64_t estimatedDecodedFrames(double seconds, std::int64_t frameRateNum, std::int64_t frameRateDen);

} // namespace kestrova::pipeline
