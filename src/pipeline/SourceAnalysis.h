#pragma once

#include "core/Records.h"
#include "tools/ToolLocator.h"

#include <filesystem>
#include <optional>

namespace kestrova::pipeline {

/// Analyses `source` with a fresh ffprobe analysis that has no log callback
/// of its own; nothing when ffprobe's report is unreadable. Throws the
/// analysis' error.
std::optional<SourceFileInfo> analyzeSource(const tools::ToolLocator &locator, const std::filesystem::path &source);

/// Throws SourceError when `source` is neither a Blu-ray disc folder nor a
/// regular file that can be opened for reading ("no BDMV folder in ..." for
/// another folder). Never blocks: a FIFO or a device is refused without being read.
void checkSourceFile(const std::filesystem::path &source);

/// Throws SourceError when the analysed `info` of `source` leaves nothing to
/// convert: no video stream, or no 3D layout (for a disc stream: no MVC view).
/// A Matroska file without a 3D mark still goes on to the demuxer, which
/// reads MVC in one track that ffprobe does not report.
void checkConvertibleSource(const std::filesystem::path &source, const SourceFileInfo &info);

} // namespace kestrova::pipeline
