#pragma once

#include "MovWriter.h"
#include "PairSource.h"
#include "SoundTracks.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrova::mvhevc {

/// The command line, checked.
struct ConversionRequest {
  std::string input; ///< "-": decoded view pairs on standard input, laid out as `pairs` says
  std::optional<PairFormat> pairs;
  PackedLayout layout; ///< how a file input packs the eyes
  /// The sound tracks in movie order; none: a side-by-side file's own first audio track if AAC.
  std::vector<AudioRequest> audio;
  std::string chapters; ///< chapter list file; empty: no chapters
  std::string output;
  double quality = 0.85;         ///< 0 < quality <= 1
  std::optional<int> capMbps;    ///< whole stream, both views together
  std::string preset = "medium"; ///< libx265 preset
  std::string dumpPrefix;        ///< when set, the encodes are written beside it as Annex B
  int threads = 0;               ///< the encoder's worker threads; 0: one per core
  std::int64_t frameLimit = 0;   ///< a file INPUT's pictures to encode, from its first; 0: all of them
  bool chunk = false;            ///< OUTPUT is one chunk of a film (Annex B + frame record), no movie
  bool join = false;             ///< OUTPUT is the movie of `chunks`, joined without encoding
  std::vector<std::string> chunks;
  StereoMetadata stereo;
};

/// Parses `INPUT OUTPUT QUALITY [CAP]` and the options: the stereo ones `--baseline-mm MM`,
/// `--hfov-degrees DEGREES` and `--disparity-adjustment N` (ten-thousandths of the picture width,
/// positive moves the scene away); the sound and chapters, for either input: `--audio FILE`
/// (repeatable, one track each, in order), each optionally followed by `--audio-stream N` (an
/// absolute stream index) and `--audio-language LLL` (ISO 639-2), `--sound FILE` (one `--audio
/// FILE`) and `--chapters FILE`. `--chunk` (no value) writes OUTPUT as one chunk of a film to be
/// joined later: the MV-HEVC stream as Annex B, parameter sets in front, and OUTPUT.frames (see
/// ChunkWriter); it takes no sound or chapters. `--join` (no value) takes `OUTPUT CHUNK...`
/// instead and joins the chunks into one movie with the stereo, sound and chapter options. INPUT `-` reads view pairs
/// from standard input and takes
/// `--view-size WxH` and `--frame-rate NUM[/DEN]` (both required), `--eye-order
/// left-first|right-first`, `--pairs N` (the expected count, for progress), `--frames N` (encode
/// the first N pairs; the decoder's pairs after them are left unread) and the burn-in
/// options `--subtitles FILE.sup`, `--subtitle-offsets VIEW`, `--subtitle-plane K`,
/// `--subtitle-depth PIXELS` and `--subtitle-first-frame N` (a chunk's place in the film).
/// `--threads N` gives the encoder N worker threads instead of one per core (for several
/// encoders sharing a machine's cores).
/// A file INPUT takes `--layout full-sbs|half-sbs|full-tab|half-tab` (default full-sbs),
/// `--eye-order` (which eye the left or top half holds) and `--frames N` (encode its first N
/// pictures only: a chunk's piece may go on past the chunk). Throws std::invalid_argument with a
/// message for the user.
ConversionRequest parseArguments(int argc, const char *const *argv);

} // namespace kestrova::mvhevc
