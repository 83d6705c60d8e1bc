#pragma once

#include <cctype>

#include "core/OutputOptions.h"
#include "pipeline/SubtitleBurnIn.h"

#include <cstdint>
#include <filesystem>
#include <fmt/format.h>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::pipeline {

/// What the streaming decoders (the zero-disk pipe and the segment-parallel
/// script) are asked to turn into one side-by-side file.
struct StreamDecodeRequest {
  /// The interleaved Annex B stream (or FIFO); in dual-split mode the base
  /// view.
  std::filesystem::path input;
  /// The run's work directory: the tools run in it and put their
  /// intermediates there.
  std::filesystem::path workDirectory;
  std::filesystem::path audioSource; ///< where the sound, subtitles and chapters come from
  /// The MV-HEVC converter's sound and chapter arguments on the one-encode
  /// road; empty gives it `audioSource` as its one sound.
  std::vector<std::string> converterTracks;
  std::filesystem::path output; ///< the SBS (or direct MV-HEVC) file
  /// On the one-encode road: the side-by-side file the user keeps, encoded
  /// from the same decoded pairs; empty when none is kept.
  std::filesystem::path keptSideBySide;
  bool rightFirst = false; ///< the source stores the right eye first
  QualityPreset preset = QualityPreset::high;
  OutputCodec codec = OutputCodec::h265; ///< HEVC whatever is asked for when the output is .mov
  OutputTarget target = OutputTarget::sbs3D;
  double duration = 0.0; ///< seconds to convert; drives the pipe's progress
  std::int64_t width = 1920;
  std::int64_t height = 1080;
  std::int64_t frameRateNum = 24000;
  std::int64_t frameRateDen = 1001;
  /// The streaming decoder helper the zero-disk pipe runs (ldecod-pipe or
  /// edge264-pipe: same command line, same output).
  std::string decoder = "ldecod-pipe";
  /// Subtitles the stacker and the MV-HEVC converter burn into both eyes.
  std::optional<SubtitleBurnIn> burnIn;
  /// The seconds of pictures the decoder gives, where they were counted
  /// (soundEndArguments).
  std::optional<double> pictureSeconds;
  /// The pairs the decoder must give (the base view's pictures); 0 where
  /// they were not counted.
  std::int64_t pictures = 0;
};

/// The audio arguments of every side-by-side encode: AAC 5.1 for the Vision
/// Pro target (the MV-HEVC converter takes AAC only and drops any other
/// track), a copy of the source's track otherwise.
inline const char *streamAudioArguments(OutputTarget target) {
  return target == OutputTarget::visionPro ? "-c:a aac_at -b:a 448k -ac 6 -ar 48000" : "-c:a copy";
}

/// Whether the side-by-side file `output` carries the source's subtitle
/// tracks: Matroska does; QuickTime takes no disc subtitles.
inline bool carriesSubtitles(const std::filesystem::path &output) {
  std::string extension = output.extension().string();
  for (auto &c : extension)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".mkv";
}

/// The maps that carry the tracks of input `input` into a side-by-side file
/// `output`: every audio track (the first the default) and the chapters, and
/// the subtitle tracks where it carries them.
inline std::vector<std::string> sourceTrackArguments(int input, const std::filesystem::path &output) {
  const std::string n = std::to_string(input);
  std::vector<std::string> arguments{"-map",          n + ":a?", "-disposition:a", "0", "-disposition:a:0", "default",
                                     "-map_chapters", n};
  if (carriesSubtitles(output))
    arguments.insert(arguments.end(), {"-map", n + ":s?", "-c:s", "copy"});
  else
    arguments.emplace_back("-sn");
  return arguments;
}

/// How a side-by-side encode into `output` ends its sound with its
/// `pictureSeconds` of pictures (where known). ffmpeg's -shortest also ends
/// the whole file where a copied subtitle track ends: after the last cue its
/// reading runs on to the end of the track's source, and every picture not
/// yet encoded then is left out, without an error. A file that carries
/// subtitles is therefore ended by the pictures' length alone, and keeps the
/// whole sound where that length is not known.
inline std::vector<std::string> soundEndArguments(const std::filesystem::path &output,
                                                  std::optional<double> pictureSeconds) {
  std::vector<std::string> arguments;
  if (pictureSeconds)
    arguments = {"-t", fmt::format("{:.6f}", *pictureSeconds)};
  if (!carriesSubtitles(output))
    arguments.emplace_back("-shortest");
  return arguments;
}

/// streamAudioArguments as separate arguments.
inline std::vector<std::string> streamAudioArgumentList(OutputTarget target) {
  if (target == OutputTarget::visionPro)
    return {"-c:a", "aac_at", "-b:a", "448k", "-ac", "6", "-ar", "48000"};
  return {"-c:a", "copy"};
}

} // namespace kestrova::pipeline
