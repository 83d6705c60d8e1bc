#pragma once

#include "pipeline/SubtitleBurnIn.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace kestrova::pipeline {

/// What a chunk is encoded into.
enum class ChunkOutput {
  mvhevc,         ///< an MV-HEVC stream (MVHEVCConverter --chunk), joined by the converter
  sideBySideHevc, ///< a full side-by-side HEVC segment (MP4) that ffmpeg's concat joins
  sideBySideH264, ///< the same in H.264
};

/// The file name extension of a chunk of `output`, with its dot.
const char *chunkExtension(ChunkOutput output);

/// What a chunk is encoded from.
enum class ChunkInput {
  mvcViews,       ///< the two views of an MVC film, decoded by an MVC decoder
  fullSbs,        ///< packed pictures, each eye at full size side by side (MVHEVCConverter's --layout words)
  halfSbs,        ///< each eye squeezed to half the width
  fullTab,        ///< each eye at full size, top and bottom
  halfTab,        ///< each eye squeezed to half the height
  frameAlternate, ///< whole pictures, the eyes one after the other
};

/// The pieces of chunk `index` in `folder`, as the film is cut into them: the
/// base and MVC views of an MVC film (.264 and .mvc), or one Matroska file
/// of the source's own coded pictures (.mkv; the second path empty).
std::pair<std::filesystem::path, std::filesystem::path> chunkPieces(const std::filesystem::path &folder, int index,
                                                                    ChunkInput input);

/// What changes the pictures of a chunk; every chunk of a film is encoded with the same.
struct ChunkPictureSettings {
  ChunkOutput output = ChunkOutput::mvhevc;
  ChunkInput input = ChunkInput::mvcViews;
  /// MVHEVCConverter's quality value; for a side-by-side chunk the quality
  /// preset's case name ("medium").
  std::string quality;
  std::optional<int> capMbps; ///< the preset's bit-rate cap, when it has one
  std::int64_t width = 1920;  ///< of one eye
  std::int64_t height = 1080;
  std::int64_t frameRateNum = 24000;
  std::int64_t frameRateDen = 1001;
  bool rightFirst = false; ///< the base view (the left or top half, the first picture) is the right eye
  /// The settings as one canonical line (for the resume manifest and the
  /// chunk command line); the input is named only when it is not an MVC
  /// film's views, so the lines of MVC runs stay as they were.
  std::string canonical() const;
  /// The settings from their canonical line; nothing for any other text.
  static std::optional<ChunkPictureSettings> parse(const std::string &line);
};

/// The subtitles a chunk burns in: the film's track and depth (the same for
/// every chunk) and the film's display frame the chunk starts at, from which
/// its cues are timed and its depths read.
struct ChunkBurnIn {
  SubtitleBurnIn subtitles;
  std::int64_t firstFrame = 0;
  /// One word for the chunk command line ("first=N depth=D plane=K|none
  /// track=FILE offsets=FILE|none"); file names may hold blanks.
  std::string canonical() const;
  /// The burn-in from its canonical word; nothing for any other text.
  static std::optional<ChunkBurnIn> parse(const std::string &word);
};

/// What of a burn-in changes a chunk's pictures, for the resume manifest
/// beside the picture settings: the bytes of the track and the offsets
/// (hashed), the plane and the fixed depth; empty without a burn-in. Where
/// the files lie is no part of it, so a run in another work folder still
/// finds its chunks. Throws std::filesystem::filesystem_error when a file
/// cannot be read.
std::string burnInIdentity(const std::optional<SubtitleBurnIn> &burnIn);

/// One chunk job: the pieces of a chunk (starting at an IDR access unit or
/// key frame and decodable on their own) to one encoded chunk.
struct ChunkJobRequest {
  std::filesystem::path basePiece; ///< base view, type-9 delimiters; or the piece of packed or alternate pictures
  std::filesystem::path mvcPiece;  ///< MVC view, type-24 delimiters; empty for other inputs
  std::filesystem::path output;    ///< the chunk, its record (`output`.frames) beside it
  std::filesystem::path folder;    ///< the job's own working folder (created, emptied of its files at the end)
  std::int64_t pairs = 0;          ///< the chunk's pictures: the first of its piece, which may go on past them
  ChunkPictureSettings picture;
  std::optional<ChunkBurnIn> burnIn; ///< subtitles burned into both eyes
  /// MVHEVCConverter's worker threads (its pictures are the same for any
  /// count); 0: one per core.
  int encoderThreads = 0;
};

/// The programs a chunk job runs (absolute paths).
struct ChunkJobTools {
  std::string interleaver; ///< nal-interleave, for MVC views
  std::string decoder;     ///< edge264-pipe or ldecod-pipe, for MVC views
  std::string converter;   ///< MVHEVCConverter, for MV-HEVC chunks
  std::string stacker;     ///< yuv_hstack, for side-by-side chunks
  std::string ffmpeg;      ///< encodes side-by-side chunks; decodes frame-alternate pieces
  std::string ffprobe;     ///< lists a side-by-side chunk's pictures for its record
};

/// MVHEVCConverter's arguments for the job: pairs on standard input to one chunk.
std::vector<std::string> chunkConverterArguments(const ChunkJobRequest &request);

/// Runs the job: interleaves the pieces into the job folder, decodes them
/// and encodes the pairs into `request.output` (MVHEVCConverter, or
/// yuv_hstack and ffmpeg for a side-by-side segment, whose record is written
/// from ffprobe's list of its pictures once ffmpeg has finished it). A
/// piece of packed pictures is read by MVHEVCConverter itself, as its
/// layout says; one of alternate pictures is decoded by ffmpeg, every two
/// pictures one pair, `request.pairs` of them.
/// `onFrames` receives the pictures encoded (decoded, for a segment) so far,
/// from the job's thread. A stop request ends the job's programs. Throws
/// ConversionError::encodingFailed (decodingFailed for the decoder) naming
/// the chunk file and the program's last words; on a stop,
/// ConversionError::cancelled. A job that fails or stops leaves no chunk
/// file or record behind.
void runChunkJob(const ChunkJobRequest &request, const ChunkJobTools &tools,
                 const std::function<void(std::int64_t)> &onFrames, std::stop_token stop);

} // namespace kestrova::pipeline
