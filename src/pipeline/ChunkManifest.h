#pragma once

#include "pipeline/ChunkPlan.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::pipeline {

/// What identifies a source file cheaply: its size, its modification time and
/// a hash of its first and last MiB.
struct SourceIdentity {
  std::uint64_t size = 0;
  std::int64_t mtimeNanoseconds = 0;
  std::uint64_t edgeHash = 0;
  friend bool operator==(const SourceIdentity &, const SourceIdentity &) = default;
};

/// Reads the identity of `source`. Throws std::filesystem::filesystem_error
/// when it cannot be read.
SourceIdentity identifySource(const std::filesystem::path &source);

/// A hash of every byte of `file`, for inputs a run makes anew each time.
/// Throws std::filesystem::filesystem_error when it cannot be read.
std::uint64_t contentHash(const std::filesystem::path &file);

/// One row of the chunk table; `encodedBytes` is set once the chunk is finished.
struct ChunkRow {
  ChunkSpan span;
  std::optional<std::uint64_t> encodedBytes;
  friend bool operator==(const ChunkRow &, const ChunkRow &) = default;
};

/// The record of a chunked run kept in its work folder: the source, the
/// settings that change the picture (one canonical line), the subtitles
/// burned in and the chunk table.
struct ChunkManifest {
  SourceIdentity source;
  std::string pictureSettings;
  std::string subtitles; ///< burnInIdentity of the run's burn-in; empty: none
  std::vector<ChunkRow> chunks;
  friend bool operator==(const ChunkManifest &, const ChunkManifest &) = default;
};

/// The manifest as text, and back. `parseManifest` returns nothing for text
/// that is not a whole, consistent manifest (chunks contiguous from frame 0).
std::string manifestText(const ChunkManifest &manifest);
std::optional<ChunkManifest> parseManifest(const std::string &text);

/// Writes the manifest so that a crash leaves either the old or the new one
/// (temporary file, fsync, rename, fsync of the folder). Throws
/// std::filesystem::filesystem_error on failure.
void writeManifestAtomically(const ChunkManifest &manifest, const std::filesystem::path &file);

/// Reads a manifest; nothing when the file is missing or not a whole manifest.
std::optional<ChunkManifest> readManifest(const std::filesystem::path &file);

/// What is found on disk for one chunk: its size and the pictures it holds
/// (as its frame count record or a scan of its access units says).
struct ChunkOnDisk {
  std::uint64_t bytes = 0;
  std::int64_t frames = 0;
};

/// What the encoded chunk `file` and its record (`file`.frames, as MVHEVCConverter --chunk writes
/// it: `view …`, one line per picture, `frames N`) say; nothing when either is missing or the
/// record is not whole (its count missing or not matching its lines).
std::optional<ChunkOnDisk> inspectChunk(const std::filesystem::path &file);

/// What a run does with the chunks of an earlier run.
struct ResumePlan {
  bool startOver = false;
  std::string reason;      ///< why it starts over, empty otherwise
  std::vector<int> reuse;  ///< chunk indexes kept as they are
  std::vector<int> encode; ///< chunk indexes to encode (again)
};

/// Decides, for the manifest found in the work folder (if any) and the chunk
/// files present, which chunks are reused: a chunk is reused only when its
/// file holds the chunk's pictures and, when its row says finished, has
/// exactly the recorded size (a row not finished is a chunk another machine
/// or scheduler encoded). A missing manifest, another source identity, other
/// picture settings, other burned-in `subtitles` or another chunk table
/// start over (everything encoded).
ResumePlan planResume(const std::optional<ChunkManifest> &found, const SourceIdentity &source,
                      const std::string &pictureSettings, const std::vector<ChunkSpan> &chunks,
                      const std::map<int, ChunkOnDisk> &onDisk, const std::string &subtitles = {});

} // namespace kestrova::pipeline
