#include "SoundTracks.h"

#include "Language.h"

namespace kestrova::mvhevc {

SoundTracks::SoundTracks(const std::vector<AudioRequest> &requests, std::ostream &notes) {
  for (const auto &request : requests) {
    auto source = std::make_unique<SoundSource>(request.file, request.stream);
    if (!source->audio()) {
      notes << "MVHEVCConverter: " << request.file << " has no audio track; it is left out\n";
      continue;
    }
    AudioInfo info = *source->audio();
    info.language = isoLanguage(request.language.empty() ? source->language() : request.language);
    if (!source->convertedFrom().empty()) {
      notes << "MVHEVCConverter: converting the " << source->convertedFrom() << " sound to AAC: track "
            << tracks_.size() + 1 << " (" << info.language << ") from " << request.file << '\n';
    }
    tracks_.push_back(std::move(info));
    sources_.push_back(std::move(source));
    held_.emplace_back();
  }
}

SoundTracks::~SoundTracks() = default;

void SoundTracks::deliverUntil(double seconds, const std::function<void(AudioPacket &&)> &sink) {
  for (std::size_t track = 0; track < sources_.size(); ++track) {
    const double rate = tracks_[track].sampleRate;
    auto &held = held_[track];
    for (;;) {
      if (!held) {
        held = sources_[track]->next();
        if (!held) {
          break;
        }
        held->track = track;
      }
      if (static_cast<double>(held->pts) / rate >= seconds) {
        break;
      }
      sink(std::move(*held));
      held.reset();
    }
  }
}

PicturesWithSound::PicturesWithSound(std::unique_ptr<PictureSource> pictures, std::unique_ptr<SoundTracks> sound,
                                     std::stop_token stop)
    : pictures_(std::move(pictures)), sound_(std::move(sound)), stop_(std::move(stop)) {}

SharedFrame PicturesWithSound::next(const std::function<void(AudioPacket &&)> &audioSink) {
  auto frame = pictures_->next([](AudioPacket &&) {});
  if (frame) {
    ++count_;
  } else if (stop_.stop_requested()) {
    return frame;
  }
  const auto &video = pictures_->video();
  sound_->deliverUntil(static_cast<double>(count_) * video.frameRateDen / video.frameRateNum, audioSink);
  return frame;
}

} // namespace kestrova::mvhevc
