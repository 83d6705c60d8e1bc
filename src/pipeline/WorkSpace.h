#pragma once

#include "pipeline/PipelineRun.h"
#include "pipeline/ViewDiscovery.h"

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <thread>

namespace kestrova::pipeline {

/// The run's pictures per second; 24000/1001 when its rate is unknown.
double framesPerSecond(const PipelineRun &run);

/// The seconds of the source the run converts: its duration, or the
/// duration limit where that is shorter; 0 when neither is known.
double convertedSeconds(const PipelineRun &run);

/// What the file system of `folder` has free for this program, in bytes;
/// none when it cannot be asked.
std::optional<std::uintmax_t> freeBytes(const std::filesystem::path &folder);

/// The free space below which a run's watch stops the running tool.
inline constexpr std::uintmax_t kRunSpaceFloor = 256u << 10;

/// Whether the file system of `folder` has less than kRunSpaceFloor free.
bool lowOnSpace(const std::filesystem::path &folder);

/// Throws NoSpaceError ("not enough space on …: needs N, has M") when the
/// file system of `folder` has less than `needed` bytes free. Nothing when
/// its free space is unknown.
void requireSpace(const std::filesystem::path &folder, std::uintmax_t needed);

/// The bytes the demuxed views of `run`'s source take: about the source's
/// size, or the share of it a duration limit keeps.
std::uintmax_t estimatedViewBytes(const PipelineRun &run);

/// The bytes the disk-based decode writes: both views' pictures, 4:2:0, for
/// the duration the run converts.
std::uintmax_t estimatedPictureBytes(const PipelineRun &run);

/// Checks the demuxed views against the source instead of trusting the
/// demuxer's exit status: a file system that filled up (NoSpaceError), a
/// view that stops before the other (ConversionError::demuxFailed in words:
/// "the 3D view stops at 8 of 23 pictures…"). A base view with fewer
/// pictures than the source's duration holds (a source shorter than its
/// container says) is only warned about. Reads both views once.
void checkDemuxedViews(PipelineRun &run, const ViewFiles &views);

/// While alive, watches the free space of a folder's file system and ends
/// the engine's current tool when it falls below `floor` (a tool that keeps
/// writing into a full disk, as the JM decoder does, would otherwise grow
/// without bound). tripped() then says so; the step throws NoSpaceError.
class SpaceWatch {
public:
  SpaceWatch(PipelineEngine &engine, std::filesystem::path folder, std::uintmax_t floor = 1u << 20);
  ~SpaceWatch();
  SpaceWatch(const SpaceWatch &) = delete;
  SpaceWatch &operator=(const SpaceWatch &) = delete;

  /// Whether the watch stopped a tool.
  bool tripped() const;
  /// Whether it stopped one or the file system is below the floor now: a
  /// tool may fail on a full disk before the watch looks.
  bool full() const;
  /// Throws NoSpaceError for the folder when tripped().
  void throwIfTripped() const;

private:
  std::filesystem::path folder_;
  std::uintmax_t floor_;
  mutable std::mutex mutex_;
  std::condition_variable_any wake_;
  bool tripped_ = false;
  std::jthread thread_;
};

} // namespace kestrova::pipeline
