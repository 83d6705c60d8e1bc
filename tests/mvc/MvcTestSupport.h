#pragma once

#include "fakes/FakeToolFolder.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/ToolOutputParsers.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kestrova::test {

/// An engine that finds its tools only in a folder of doubles (plus the real
/// programs the test links in), with a fake pkill and a recorded log.
struct MvcEngineFixture {
  TempDir dir;
  FakeToolFolder tools{dir / "tools"};
  std::unique_ptr<pipeline::PipelineEngine> engine;
  std::mutex mutex;
  std::vector<std::string> lines;
  std::vector<std::pair<ConversionStage, double>> progress;

  MvcEngineFixture();
  /// Links the real ffmpeg (and ffprobe) into the tool folder.
  void addRealFfmpeg();
  /// Links the JM decoder's double into the tool folder as "ldecod".
  void addFakeLdecod();
  std::vector<std::string> logLines();
  std::vector<std::pair<ConversionStage, double>> progressPairs();
  bool logged(const std::string &line);
  pipeline::ProgressReport progressRecorder();
};

/// Annex B elementary streams of `frames` access units the way tsMuxeR
/// writes them: the base view opened by delimiters of type 9, the MVC view
/// by type 24. Their payloads are plain text, so they travel inside a fake
/// tool's JSON script unchanged.
std::string baseViewStream(int frames, int width, int height);
std::string mvcViewStream(int frames, int width, int height);

/// Generates a small real media file (video plus a sine audio track) with
/// the real ffmpeg; the container follows the extension.
void makeSourceWithAudio(const std::filesystem::path &file);

/// Mean luma of the left and right halves over every frame of a video file,
/// decoded by the real ffmpeg.
std::pair<double, double> halfLumaMeans(const std::filesystem::path &video);

/// The streams of a media file as the real ffprobe sees them, e.g.
/// "video 128x48 left_right, audio".
std::string streamSummary(const std::filesystem::path &file);

/// The output of the real ffprobe for `arguments` followed by `file`.
std::string probe(const std::vector<std::string> &arguments, const std::filesystem::path &file);

} // namespace kestrova::test
