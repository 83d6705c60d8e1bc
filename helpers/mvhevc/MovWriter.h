#pragma once

#include "Chapters.h"
#include "FrameSource.h"
#include "NalUnit.h"
#include "ParameterSets.h"

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrova::mvhevc {

/// Thrown when the output file cannot be written (full disk, permissions).
class OutputError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// Stereo presentation metadata for the viewer.
struct StereoMetadata {
  std::uint32_t baselineMicrometres = 64000;     ///< distance between the two cameras
  std::uint32_t fieldOfViewMilliDegrees = 60000; ///< horizontal field of view
  std::int32_t disparityAdjustment = 0;          ///< in 1/10000 of the picture width
};

/// What the video sample entry describes.
struct VideoTrackSetup {
  int width = 0; ///< one view
  int height = 0;
  std::uint32_t timescale = 600;
  std::uint32_t sampleDelta = 20;
  SpsInfo baseSps;
  NalBytes vps, baseSps0, basePps, referenceDisplays; ///< hvcC arrays
  NalBytes layerOneSps, layerOnePps;                  ///< lhvC arrays
  StereoMetadata stereo;
};

/// One video sample's timing in the tables.
struct VideoSampleInfo {
  std::int64_t presentationIndex = 0; ///< picture index in display order
  bool sync = false;
  bool disposable = false;
  std::uint8_t nalType = 0; ///< nal_unit_type of the layer-0 slices
  bool independent = false;
};

/// Writes a QuickTime movie: media data first, appended as samples arrive, then the movie box.
class MovWriter {
public:
  /// Creates `path` (truncating it) for a movie with the sound tracks `sound`, in movie order.
  MovWriter(const std::string &path, std::vector<AudioInfo> sound);
  ~MovWriter();
  MovWriter(const MovWriter &) = delete;
  MovWriter &operator=(const MovWriter &) = delete;

  /// Appends one access unit (NAL units, each given a 4-byte length).
  void writeVideoSample(std::span<const NalBytes> nals, const VideoSampleInfo &info);
  /// Appends one AAC access unit of the sound track `packet.track`.
  void writeAudioSample(const AudioPacket &packet);
  /// Writes the chapter titles and the movie box, and flushes the file to disk. `chapters` must
  /// start within the pictures.
  void finish(const VideoTrackSetup &video, const std::vector<Chapter> &chapters = {});

  std::size_t videoSampleCount() const { return video_.sizes.size(); }

private:
  struct Track {
    std::vector<std::uint32_t> sizes;
    std::vector<std::uint64_t> offsets;
  };
  struct SoundTrack {
    AudioInfo info;
    Track table;
    std::vector<std::uint32_t> durations;
    std::int64_t priming = 0;
  };
  void append(std::span<const std::uint8_t> bytes);
  void flushBuffer();

  int fd_ = -1;
  std::string path_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t position_ = 0;
  std::uint64_t mdatStart_ = 0;
  Track video_;
  std::vector<VideoSampleInfo> videoInfo_;
  std::vector<SoundTrack> sound_;
};

} // namespace kestrova::mvhevc
