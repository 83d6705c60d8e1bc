#include "pipeline/WorkSpace.h"

#include "core/Errors.h"
#include "nal/StreamReader.h"
#include "tools/Cancellation.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <fmt/format.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

double convertedSeconds(const PipelineRun &run) {
  if (run.job.durationLimit && (run.duration <= 0 || static_cast<double>(*run.job.durationLimit) < run.duration))
    return static_cast<double>(*run.job.durationLimit);
  return run.duration;
}

double framesPerSecond(const PipelineRun &run) {
  return run.frameRateDen > 0 && run.frameRateNum > 0
             ? static_cast<double>(run.frameRateNum) / static_cast<double>(run.frameRateDen)
             : 24000.0 / 1001.0;
}

std::int64_t countAccessUnits(const fs::path &view, std::uint8_t delimiter, const std::stop_token &stop) {
  nal::StreamReader reader(view, delimiter);
  std::int64_t count = 0;
  while (!stop.stop_requested() && reader.readAccessUnit())
    ++count;
  return count;
}

std::string timeText(double seconds) {
  const auto whole = static_cast<std::int64_t>(seconds);
  return fmt::format("{}:{:02}:{:05.2f}", whole / 3600, whole / 60 % 60,
                     seconds - static_cast<double>(whole / 60 * 60));
}

} // namespace

std::optional<std::uintmax_t> freeBytes(const fs::path &folder) {
  std::error_code ec;
  auto space = fs::space(folder, ec);
  if (ec)
    return std::nullopt;
  return space.available;
}

void requireSpace(const fs::path &folder, std::uintmax_t needed) {
  auto available = freeBytes(folder);
  if (available && *available < needed)
    throw NoSpaceError(folder, needed, *available);
}

std::uintmax_t estimatedViewBytes(const PipelineRun &run) {
  std::error_code ec;
  const auto size = fs::file_size(run.job.sourceURL, ec);
  if (ec)
    return 0;
  const double seconds = convertedSeconds(run);
  if (run.duration > 0 && seconds > 0 && seconds < run.duration)
    return static_cast<std::uintmax_t>(static_cast<double>(size) * seconds / run.duration);
  return size;
}

std::uintmax_t estimatedPictureBytes(const PipelineRun &run) {
  const double pictures = std::ceil(convertedSeconds(run) * framesPerSecond(run));
  const double pictureBytes = static_cast<double>(run.width) * static_cast<double>(run.height) * 1.5;
  return pictures > 0 ? static_cast<std::uintmax_t>(2.0 * pictures * pictureBytes) : 0;
}

void checkDemuxedViews(PipelineRun &run, const ViewFiles &views) {
  const fs::path &folder = run.workDirectory;
  // A demuxer that hit a full disk may still say it completed.
  if (auto available = freeBytes(folder); available && *available < (1u << 20))
    throw NoSpaceError(folder);
  const auto stop = run.engine.stopToken();
  const std::int64_t base = countAccessUnits(views.base, 9, stop);
  const std::int64_t mvc = countAccessUnits(views.mvc, 24, stop);
  if (stop.stop_requested())
    throw ConversionError::cancelled();
  const double fps = framesPerSecond(run);
  run.engine.verbose(fmt::format("Demuxed views: {} base and {} 3D pictures", base, mvc));
  if (mvc + 2 < base)
    throw ConversionError::demuxFailed(
        fmt::format("the 3D view stops at {} of {} pictures ({} of {}): the source is damaged or cut short", mvc, base,
                    timeText(static_cast<double>(mvc) / fps), timeText(static_cast<double>(base) / fps)));
  if (base + 2 < mvc)
    throw ConversionError::demuxFailed(
        fmt::format("the base view stops at {} of {} pictures: the source is damaged or cut short", base, mvc));
  const double expectedPictures = convertedSeconds(run) * fps;
  if (expectedPictures > 0 && static_cast<double>(base) < 0.9 * expectedPictures - 2)
    run.engine.log(fmt::format("\u26a0\ufe0f The source holds {} pictures ({}) where its container says {} ({}): "
                               "it is shorter than it claims, only what is there is converted",
                               base, timeText(static_cast<double>(base) / fps),
                               static_cast<std::int64_t>(expectedPictures), timeText(convertedSeconds(run))));
}

SpaceWatch::SpaceWatch(PipelineEngine &engine, fs::path folder, std::uintmax_t floor)
    : folder_(std::move(folder)), thread_([this, &engine, floor](std::stop_token stop) {
        std::unique_lock lock(mutex_);
        while (!stop.stop_requested()) {
          auto available = freeBytes(folder_);
          if (available && *available < floor) {
            tripped_ = true;
            if (auto process = engine.currentProcess())
              tools::signalCancellation(*process);
            return;
          }
          wake_.wait_for(lock, stop, std::chrono::milliseconds(250), [] { return false; });
        }
      }) {}

SpaceWatch::~SpaceWatch() {
  thread_.request_stop();
}

bool SpaceWatch::tripped() const {
  std::lock_guard lock(mutex_);
  return tripped_;
}

void SpaceWatch::throwIfTripped() const {
  if (tripped())
    throw NoSpaceError(folder_);
}

} // namespace kestrova::pipeline
