#pragma once

#include "fakes/FakeToolFolder.h"
#include "pipeline/PipelineEngine.h"
#include "support/TestSupport.h"

#include <mutex>

namespace kestrova::test {

/// An engine whose tools are a test folder: the real ffmpeg and ffprobe
/// linked in, fakes for everything else.
struct SourcesFixture {
  TempDir dir;
  FakeToolFolder tools{dir / "tools"};
  std::filesystem::path output = dir / "out";
  std::unique_ptr<pipeline::PipelineEngine> engine;
  std::mutex mutex;
  std::vector<std::pair<ConversionStage, double>> progress;

  SourcesFixture();
  /// Runs the handler form with prepared source information.
  ConversionResult convert(const ConversionJob &job, const SourceFileInfo &info);
  ConversionJob job(const std::filesystem::path &source, OutputTarget target) const;
};

/// Marks a folder immutable (FS_IMMUTABLE_FL) for its lifetime: nobody, not
/// even root, can create a file in it, which a permission bit cannot promise
/// when the tests run as root. `applied()` is false on a file system without
/// the flag (tmpfs, overlayfs) or without the capability to set it.
class ImmutableFolder {
public:
  explicit ImmutableFolder(std::filesystem::path folder);
  ~ImmutableFolder();
  ImmutableFolder(const ImmutableFolder &) = delete;
  ImmutableFolder &operator=(const ImmutableFolder &) = delete;
  bool applied() const { return applied_; }

private:
  std::filesystem::path folder_;
  bool applied_ = false;
};

/// Runs ffmpeg with `arguments` (after "-v error -y") and fails the test when it fails.
void runFfmpeg(const std::vector<std::string> &arguments);

/// A source of two eyes nobody could mistake for each other: a moving test
/// picture [l] and its negative, mirrored, [r] (`eyeSize`, 24 a second),
/// packed by the filter graph `pack` into [v]; `frames` pictures of it with
/// `seconds` of sine sound (AAC), encoded by libx264 with `videoArguments`.
void makeTwoEyeSource(const std::filesystem::path &file, const std::string &eyeSize, const std::string &pack,
                      int frames, double seconds, const std::vector<std::string> &videoArguments);

/// Raw 4:2:0 pictures of `input` through the ffmpeg filter `filter`, scaled to
/// `width` x `height`, every picture as decoded (written to `raw` on the way).
std::vector<std::uint8_t> rawPictures(const std::filesystem::path &input, const std::string &filter, int width,
                                      int height, const std::filesystem::path &raw);

/// Mean luma of the left and right halves of every frame of `video`.
std::vector<std::pair<double, double>> halfBrightness(const std::filesystem::path &video);

/// A source whose even frames are dark (Y 16) and odd frames bright (Y 235),
/// at 48 fps, with a sine audio track.
void makeFrameAlternateSource(const std::filesystem::path &file, double seconds = 1.0);

} // namespace kestrova::test
