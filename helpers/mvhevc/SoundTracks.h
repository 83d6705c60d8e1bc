#pragma once

#include "FrameSource.h"
#include "SoundSource.h"

#include <memory>
#include <optional>
#include <ostream>
#include <stop_token>
#include <string>
#include <vector>

namespace kestrova::mvhevc {

/// One sound track of the movie as the command line names it.
struct AudioRequest {
  std::string file;
  std::optional<int> stream; ///< absolute stream index in `file`; empty: its first audio stream
  std::string language;      ///< ISO 639-2; empty: the stream's own tag, else "und"
};

/// The movie's sound tracks, each read from its own source as the pictures advance, so that no
/// track is ever held whole in memory.
class SoundTracks {
public:
  /// Opens the requests in order. A file without audio is left out, and a track converted to AAC
  /// announced, with a remark to `notes`. Throws InputError as SoundSource does.
  SoundTracks(const std::vector<AudioRequest> &requests, std::ostream &notes);
  ~SoundTracks();
  SoundTracks(const SoundTracks &) = delete;
  SoundTracks &operator=(const SoundTracks &) = delete;

  /// The tracks kept, in movie order, each with its language.
  const std::vector<AudioInfo> &tracks() const { return tracks_; }
  /// Hands every access unit that starts before `seconds` to `sink`, marked with its track.
  void deliverUntil(double seconds, const std::function<void(AudioPacket &&)> &sink);

private:
  std::vector<std::unique_ptr<SoundSource>> sources_;
  std::vector<std::optional<AudioPacket>> held_;
  std::vector<AudioInfo> tracks_;
};

/// Pictures with sound from other files: the sound that plays up to the end of each picture
/// comes with it, and sound past the last picture is dropped, so that a source cut short (a
/// duration limit, a decoder that stopped early) does not carry the rest of the film's sound.
class PicturesWithSound : public PictureSource {
public:
  /// `pictures` own sound, if any, is dropped. `stop` ends the input without the final sound.
  PicturesWithSound(std::unique_ptr<PictureSource> pictures, std::unique_ptr<SoundTracks> sound, std::stop_token stop);

  const VideoInfo &video() const override { return pictures_->video(); }
  SharedFrame next(const std::function<void(AudioPacket &&)> &audioSink) override;

private:
  std::unique_ptr<PictureSource> pictures_;
  std::unique_ptr<SoundTracks> sound_;
  std::stop_token stop_;
  std::int64_t count_ = 0;
};

} // namespace kestrova::mvhevc
