#include "pipeline/WorkSpace.h"

#include "core/Errors.h"
#include "nal/AnnexB.h"
#include "nal/StreamReader.h"
#include "pipeline/ViewDamage.h"
#include "tools/Cancellation.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fmt/format.h>
#include <fstream>
#include <vector>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

double convertedSeconds(const PipelineRun &run) {
  if (run.job.durationLimit && (run.duration <= 0 || static_cast<double>(*run.job.durationLimit) < run.duration))
    return static_cast<double>(*run.job.durationLimit);
  return run.duration;
}

namespace {

std::int64_t countAccessUnits(const fs::path &view, std::uint8_t delimiter, const std::stop_token &stop) {
  nal::StreamReader reader(view, delimiter);
  std::int64_t count = 0;
  while (!stop.stop_requested() && reader.readAccessUnit())
    ++count;
  return count;
}

/// Whether the view's first pictures come before any sequence parameter
/// set: nothing before the first set can be decoded.
bool opensWithoutSequenceSet(const fs::path &view) {
  std::ifstream in(view, std::ios::binary);
  std::vector<std::uint8_t> head(1u << 20);
  in.read(reinterpret_cast<char *>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  return nal::annexb::slicesBeforeSequenceSet(head);
}

} // namespace

double framesPerSecond(const PipelineRun &run) {
  return run.frameRateDen > 0 && run.frameRateNum > 0
             ? static_cast<double>(run.frameRateNum) / static_cast<double>(run.frameRateDen)
             : 24000.0 / 1001.0;
}

std::optional<std::uintmax_t> freeBytes(const fs::path &folder) {
  std::error_code ec;
  auto space = fs::space(folder, ec);
  if (ec)
    return std::nullopt;
  return space.available;
}

bool lowOnSpace(const fs::path &folder) {
  auto available = freeBytes(folder);
  return available && *available < kRunSpaceFloor;
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

namespace {

std::uintmax_t sizeOr0(const fs::path &file) {
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  return ec ? 0 : size;
}

/// A transport stream that is not a whole number of packets (188 bytes, or
/// 192 with a disc's time stamps) was cut in the middle of one: a copy or a
/// download that did not finish.
bool endsMidPacket(const fs::path &source) {
  std::string extension = source.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension != ".m2ts" && extension != ".mts" && extension != ".ts")
    return false;
  const auto size = sizeOr0(source);
  return size > 0 && size % 188 != 0 && size % 192 != 0;
}

/// The pairs both views hold against the length the container gives and the
/// views' bytes against the source's: a source shorter than it says is
/// converted as far as it goes, with a warning; views far smaller than such
/// a source holds mean the demux lost data.
void checkViewLength(PipelineRun &run, const ViewFiles &views, std::int64_t pairs) {
  const double fps = framesPerSecond(run);
  const std::string held = pictureTimeText(static_cast<double>(pairs) / fps);
  if (endsMidPacket(run.job.sourceURL))
    run.engine.log(fmt::format("\u26a0\ufe0f The source ends in the middle of a packet: it was cut short (a copy or "
                               "download that did not finish); only its first {} ({} pictures) are converted",
                               held, pairs));
  const double expectedPictures = convertedSeconds(run) * fps;
  if (expectedPictures <= 0 || static_cast<double>(pairs) >= 0.9 * expectedPictures - 2)
    return;
  const std::uintmax_t sourceShare = estimatedViewBytes(run);
  const std::uintmax_t viewBytes = sizeOr0(views.base) + sizeOr0(views.mvc);
  if (!run.disc && sourceShare > 0 && static_cast<double>(viewBytes) < 0.3 * static_cast<double>(sourceShare))
    throw ConversionError::demuxFailed(fmt::format(
        "the demuxed views hold {} pictures ({}) in {:.1f} MB where the source has {:.1f} MB for {}: the demux "
        "stopped early",
        pairs, held, static_cast<double>(viewBytes) / 1e6, static_cast<double>(sourceShare) / 1e6,
        pictureTimeText(convertedSeconds(run))));
  run.engine.log(fmt::format("\u26a0\ufe0f The source holds {} pictures ({}) where its container says {} ({}): "
                             "it is shorter than it claims, only what is there is converted",
                             pairs, held, static_cast<std::int64_t>(expectedPictures),
                             pictureTimeText(convertedSeconds(run))));
}

} // namespace

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
  run.basePictures = base;
  const double fps = framesPerSecond(run);
  run.engine.verbose(fmt::format("Demuxed views: {} base and {} 3D pictures", base, mvc));
  // Not a damaged 3D film but none at all: a Matroska file's block_lr/block_rl
  // tag is also the only way it can say its pictures alternate between the eyes.
  if (mvc == 0 && base > 0)
    throw ConversionError::demuxFailed(fmt::format(
        "{} holds no MVC (3D) view: all its {} pictures are of one view{}", run.job.sourceURL.filename().string(), base,
        run.stereoMode.kind() == Stereo3DMode::Kind::mvcSingleTrack
            ? ". Its 3D tag is also the one a frame-alternate film carries: if its pictures alternate between the "
              "eyes, convert it with the frame-alternate layout (--layout frame-alternate)"
            : ""));
  // A sample cut out of a film with a plain file cutter: its first pictures
  // refer to pictures that were cut away.
  if (opensWithoutSequenceSet(views.base))
    throw ConversionError::demuxFailed(fmt::format(
        "{} starts in the middle of a group of pictures: it was cut at its start, not at a key picture, and its "
        "first pictures cannot be decoded without the ones cut away. Convert the whole file or disc, or cut the "
        "sample at a key picture",
        run.job.sourceURL.filename().string()));
  if (mvc + 2 < base)
    throw ConversionError::demuxFailed(
        fmt::format("the 3D view stops at {} of {} pictures ({} of {}): the source is damaged or cut short", mvc, base,
                    pictureTimeText(static_cast<double>(mvc) / fps), pictureTimeText(static_cast<double>(base) / fps)));
  if (base + 2 < mvc)
    throw ConversionError::demuxFailed(
        fmt::format("the base view stops at {} of {} pictures: the source is damaged or cut short", base, mvc));
  checkViewLength(run, views, std::min(base, mvc));
}

SpaceWatch::SpaceWatch(PipelineEngine &engine, fs::path folder, std::uintmax_t floor)
    : folder_(std::move(folder)), floor_(floor), thread_([this, &engine, floor](std::stop_token stop) {
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

bool SpaceWatch::full() const {
  if (tripped())
    return true;
  auto available = freeBytes(folder_);
  return available && *available < floor_;
}

void SpaceWatch::throwIfTripped() const {
  if (tripped())
    throw NoSpaceError(folder_);
}

} // namespace kestrova::pipeline
