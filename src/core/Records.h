#pragma once

#include "core/OutputOptions.h"
#include "core/Stereo3DMode.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrova {

class SettingsStore;

/// The analysed facts about one source file.
struct SourceFileInfo {
  std::filesystem::path url;
  std::string fileName;
  std::string title;
  double duration = 0.0;
  std::string resolution;
  std::int64_t videoWidth = 0;
  std::int64_t videoHeight = 0;
  std::int64_t frameRateNum = 0;
  std::int64_t frameRateDen = 0;
  bool hasMVCStream = false;
  std::optional<std::int64_t> mvcTrackIndex;
  Stereo3DMode stereoMode = Stereo3DMode::none();
  /// The language of each subtitle track, in the source's order ("und" when untagged).
  std::vector<std::string> subtitleLanguages;
  /// Whether the source marks each subtitle track (same order) as forced:
  /// shown when the viewer chose none.
  std::vector<bool> subtitleForced;

  /// "HH:MM:SS" of the duration truncated to whole seconds; hours are not
  /// wrapped. A duration that is not finite or out of range reads as zero.
  std::string durationText() const;

  friend bool operator==(const SourceFileInfo &, const SourceFileInfo &) = default;
};

/// Pixels (of a 1920-wide eye) in front of the screen where burned-in
/// subtitles have no usable depth from the source.
inline constexpr int kDefaultSubtitleDepth = 4;

/// Which subtitle track to burn into both eyes, and at what depth.
struct SubtitleRequest {
  /// "none", a language code ("eng"), or a track number counted from 1 among
  /// the source's subtitle tracks; empty takes the first forced track, else none.
  std::string track;
  /// The offset sequence (3D plane) the track follows, instead of the one the
  /// source names.
  std::optional<int> plane;
  /// The shift used without usable depth: positive in front of the screen.
  int fixedDepth = kDefaultSubtitleDepth;

  friend bool operator==(const SubtitleRequest &, const SubtitleRequest &) = default;
};

/// One conversion request.
/// How a Vision Pro run of a Blu-ray 3D source is cut into chunks that are
/// encoded at once and joined.
struct ChunkingOptions {
  double chunkSeconds = 60.0;  ///< length of a chunk (it ends at the next key frame)
  int jobs = 0;                ///< chunk jobs at once; 0 chooses from cores and memory
  bool resume = true;          ///< reuse the finished chunks of an earlier run of the same conversion
  std::filesystem::path hosts; ///< GNU parallel ssh login file of further machines; empty: this one only
  bool remoteOnly = false;     ///< with hosts: this machine encodes no chunk (it still cuts and joins)
  bool cutOnly = false;        ///< only cut and list the chunk jobs for another scheduler, then stop
  friend bool operator==(const ChunkingOptions &, const ChunkingOptions &) = default;
};

/// The chunking settings stored in `store` (chunkSeconds, jobs, hosts, remoteOnly) over
/// the defaults; a value of the wrong type or out of range leaves its default.
ChunkingOptions storedChunking(const SettingsStore &store);

struct ConversionJob {
  std::filesystem::path sourceURL;
  std::filesystem::path outputDirectory;
  QualityPreset qualityPreset = QualityPreset::medium;
  OutputCodec outputCodec = OutputCodec::h264;
  OutputTarget outputTarget = OutputTarget::sbs3D;
  /// Seconds of the source to convert from its start; absent converts all.
  std::optional<std::int64_t> durationLimit;
  /// Whether files of the output's names that exist already may be replaced;
  /// without it the conversion stops before any work.
  bool replaceExisting = false;
  /// Whether a Blu-ray 3D (MVC) source going to Vision Pro leaves its
  /// side-by-side file beside the MV-HEVC file. Without it the decoded view
  /// pairs go straight into the MV-HEVC encoder and no side-by-side file is
  /// encoded at all.
  bool keepSideBySide = true;
  /// For a Blu-ray disc source: the playlist number to convert (00800.mpls is
  /// 800); absent takes the disc's main 3D playlist.
  std::optional<int> playlist{};
  /// Whether a failed run keeps its large intermediate files (demuxed views,
  /// decoded pictures) for diagnosis; without it only the log and small files stay.
  bool keepWork = false;
  /// The source's 3D layout as the user gives it; `automatic` takes the
  /// detected one.
  StereoLayout layout = StereoLayout::automatic;
  /// Whether the source's first eye is the right one, against what the
  /// layout (given or detected) says.
  bool swapEyes = false;
  /// The subtitle track burned into both eyes, if any.
  SubtitleRequest subtitles;
  ChunkingOptions chunking;

  friend bool operator==(const ConversionJob &, const ConversionJob &) = default;
};

/// One video track of a container.
struct DetectedTrack {
  std::int64_t trackId = 0;
  std::string codec;
  bool isMVC = false;
  std::int64_t index = 0;

  friend bool operator==(const DetectedTrack &, const DetectedTrack &) = default;
};

/// A side-by-side intermediate kept for reuse by a later conversion.
struct CachedSBS {
  std::filesystem::path sourceURL;
  std::filesystem::path sbsURL;
  QualityPreset qualityPreset = QualityPreset::medium;
  OutputCodec outputCodec = OutputCodec::h264;
  std::int64_t durationLimit = 0;

  friend bool operator==(const CachedSBS &, const CachedSBS &) = default;
};

/// What a successful conversion returns.
struct ConversionResult {
  std::string outputPath;
  std::filesystem::path tempDirectory;
  std::optional<std::string> sbsIntermediatePath;

  friend bool operator==(const ConversionResult &, const ConversionResult &) = default;
};

/// "HH:MM:SS" for a duration in seconds (see SourceFileInfo::durationText).
std::string formatDurationText(double seconds);

} // namespace kestrova
