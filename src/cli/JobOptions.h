#pragma once

#include "cli/CommandLine.h"
#include "core/Records.h"
#include "core/SettingsStore.h"

#include <filesystem>

namespace kestrova::cli {

/// What the stored settings give a headless run, each read as the
/// command-line mode always has: quality and target texts by substring, and
/// keepSBSIntermediate only when it is true or false.
struct StoredChoices {
  QualityPreset quality = QualityPreset::high;
  OutputTarget target = OutputTarget::visionPro;
  /// Whether a Vision Pro run keeps its side-by-side file (off by default).
  bool keepSideBySide = false;
  /// Where burned-in subtitles without depth go (subtitleDepth).
  int subtitleDepth = kDefaultSubtitleDepth;
  /// chunkSeconds, jobs, hosts and remoteOnly (the command line's --jobs,
  /// --hosts and --remote-only win).
  ChunkingOptions chunking;

  friend bool operator==(const StoredChoices &, const StoredChoices &) = default;
};

/// Reads the choices from `store`. A quality or target that is not one of the
/// window's own texts and a keepSBSIntermediate that is not true or false are
/// reported through the store's diagnostics, naming the key, the value and
/// what is made instead; so is a subtitleDepth that is no whole number from
/// -128 to 127.
StoredChoices readStoredChoices(const SettingsStore &store);

/// The job for one source: the command line's options where given, the
/// stored choices otherwise; `durationLimit` as readDuration made it.
ConversionJob jobFor(const CommandLine &line, const StoredChoices &stored, std::optional<std::int64_t> durationLimit,
                     const std::filesystem::path &source, const std::filesystem::path &output);

} // namespace kestrova::cli
