#pragma once

#include "FrameSource.h"

#include <memory>
#include <optional>
#include <string>

namespace kestrova::mvhevc {

/// One audio track of a source file as AAC access units: copied when it is AAC, otherwise
/// decoded and encoded with libavcodec's AAC encoder (a disc's AC3, DTS or LPCM). Times count
/// from the start of the file's first video track, so that the sound stays in sync with pictures
/// decoded from that track elsewhere; sound that starts before the pictures is cut, and when
/// converted, sound that starts after them is preceded by silence.
class SoundSource {
public:
  /// Opens stream `streamIndex` of `path` (an absolute stream index), else its first audio stream.
  /// Throws InputError when it cannot be read, the stream is not audio, or its sound cannot be
  /// converted.
  explicit SoundSource(const std::string &path, std::optional<int> streamIndex = std::nullopt);
  ~SoundSource();
  SoundSource(const SoundSource &) = delete;
  SoundSource &operator=(const SoundSource &) = delete;

  /// The AAC track's description; empty when the file has no audio track.
  const std::optional<AudioInfo> &audio() const { return audio_; }
  /// The track's own language tag as the container gives it; empty when it has none.
  const std::string &language() const { return language_; }
  /// The codec name of a track that is converted to AAC; empty when copied or absent.
  const std::string &convertedFrom() const { return convertedFrom_; }
  /// The next access unit in decoding order, or nothing at the end.
  std::optional<AudioPacket> next();

private:
  struct State;
  std::unique_ptr<State> state_;
  std::optional<AudioInfo> audio_;
  std::string convertedFrom_;
  std::string language_;
};

} // namespace kestrova::mvhevc
