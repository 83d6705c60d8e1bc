#include "pipeline/SubtitlePreparation.h"
#include "pipeline/RequiredTool.h"

#include "core/Errors.h"
#include "core/UniqueFd.h"
#include "nal/InterleaveError.h"
#include "pipeline/SubtitleBurnIn.h"
#include "pipeline/ToolBlame.h"
#include "tools/Process.h"

#include <cerrno>
#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

constexpr std::uint8_t kSeiUnit = 6;
constexpr std::uint8_t kMvcSliceUnit = 20;
// As much of an SEI unit as the offset reader takes.
constexpr std::size_t kLargestSei = nal::OffsetMetadataReader::kLargestSei;

/// Keeps the units of an Annex B stream the offset reader looks at, fed in
/// pieces of any size.
class OffsetUnitFilter {
public:
  explicit OffsetUnitFilter(std::vector<std::uint8_t> &out) : out_(out) {}

  void feed(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t byte : bytes) {
      if (byte == 1 && zeros_ >= 2) {
        endUnit();
        inUnit_ = true;
        continue;
      }
      if (inUnit_) {
        if (length_++ == 0)
          type_ = byte & 0x1f;
        if (unit_.size() < (type_ == kSeiUnit ? kLargestSei + 4 : 5))
          unit_.push_back(byte);
      }
      zeros_ = byte == 0 ? zeros_ + 1 : 0;
    }
  }

  void finish() { endUnit(); }

private:
  std::vector<std::uint8_t> &out_;
  std::vector<std::uint8_t> unit_;
  std::size_t length_ = 0;
  std::size_t zeros_ = 0;
  std::uint8_t type_ = 0;
  bool inUnit_ = false;

  // The zeros before a start code (or at the end) are not the unit's.
  void endUnit() {
    const std::size_t content = length_ > zeros_ ? length_ - zeros_ : 0;
    unit_.resize(std::min(unit_.size(), content));
    // A slice of the MVC view whose first_mb_in_slice is 0 opens a picture.
    const bool keep = (type_ == kSeiUnit && content <= kLargestSei) ||
                      (type_ == kMvcSliceUnit && unit_.size() == 5 && (unit_[4] & 0x80) != 0);
    if (inUnit_ && keep) {
      out_.insert(out_.end(), {0, 0, 1});
      out_.insert(out_.end(), unit_.begin(), unit_.end());
    }
    unit_.clear();
    length_ = zeros_ = 0;
    type_ = 0;
  }
};

void writeAll(const fs::path &file, const std::vector<std::uint8_t> &bytes) {
  UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.valid())
    throw nal::FileAccessError("create", file.string(), errno);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      throw nal::FileAccessError("write", file.string(), errno);
    done += static_cast<std::size_t>(n);
  }
}

/// Copies subtitle stream `stream` of `source` into the PG file `sup`; the
/// reason in ffmpeg's words when it cannot.
std::optional<std::string> copySubtitleTrack(PipelineRun &run, const fs::path &source, std::int64_t stream,
                                             bool filmTimes, const fs::path &sup) {
  const std::string ffmpeg = requireFfmpeg(run.engine);
  tools::ProcessLaunch launch;
  launch.executable = ffmpeg;
  // A disc's joined tracks already count from the film's first picture; a
  // file's count from its own start, which ffmpeg takes off without -copyts.
  launch.arguments = {"-y", "-v", "error", "-nostdin"};
  if (filmTimes)
    launch.arguments.emplace_back("-copyts");
  launch.arguments.insert(launch.arguments.end(), {"-i", source.string(), "-map", fmt::format("0:{}", stream), "-c",
                                                   "copy", "-f", "sup", sup.string()});
  auto process = run.engine.createCurrentProcess(std::move(launch));
  const auto status = tools::runAndStream(*process, {}, {});
  std::error_code error;
  if (status.success() && fs::file_size(sup, error) > 0 && !error)
    return std::nullopt;
  return reasonLine(process->errorTail());
}

} // namespace

void copyOffsetUnits(const fs::path &view, const fs::path &out) {
  UniqueFd fd(::open(view.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid())
    throw nal::FileAccessError("open", view.string(), errno);
  std::vector<std::uint8_t> kept;
  OffsetUnitFilter filter(kept);
  std::vector<std::uint8_t> chunk(1u << 20);
  for (;;) {
    const ssize_t got = ::read(fd.get(), chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      throw nal::FileAccessError("read", view.string(), errno);
    if (got == 0)
      break;
    filter.feed(std::span(chunk).first(static_cast<std::size_t>(got)));
  }
  filter.finish();
  writeAll(out, kept);
}

std::vector<SubtitleTrack> sourceSubtitleTracks(const PipelineRun &run) {
  std::vector<SubtitleTrack> tracks;
  if (run.disc) {
    for (const auto &stream : run.disc->playlist.subtitles)
      tracks.push_back({stream.language, true, false, stream.offsetSequence});
    return tracks;
  }
  const auto ffprobe = run.engine.findTool("ffprobe");
  if (!ffprobe)
    return tracks;
  for (const auto &track : analysis::probeMediaTracks(*ffprobe, run.job.sourceURL).subtitles)
    tracks.push_back({track.language, track.codec == "hdmv_pgs_subtitle", track.forced, std::nullopt});
  return tracks;
}

SubtitleChoice chooseRunSubtitles(const PipelineRun &run) {
  const SubtitleRequest &request = run.job.subtitles;
  if (request.track == "none")
    return {};
  const auto tracks = sourceSubtitleTracks(run);
  return chooseSubtitles(tracks, run.disc.has_value(), request);
}

void prepareBurnIn(PipelineRun &run, const SubtitleChoice &choice, const fs::path &mvcView) {
  run.burnIn.reset();
  if (!choice.track)
    return;
  const std::size_t wanted = *choice.track;
  // The track's place among those the demux kept: a disc's joined tracks
  // leave out what tsMuxeR could not demux.
  const auto expected = run.disc ? run.disc->playlist.subtitles.size() : run.tracks.subtitles.size();
  if (run.tracks.subtitles.size() != expected || wanted >= run.tracks.subtitles.size()) {
    run.engine.log(
        fmt::format("\u26a0\ufe0f Subtitle track {} could not be demuxed; no subtitles are burned in", wanted + 1));
    return;
  }
  SubtitleBurnIn burnIn;
  burnIn.track = run.workDirectory / "burn_in.sup";
  burnIn.fixedDepth = run.job.subtitles.fixedDepth;
  if (auto why = copySubtitleTrack(run, run.trackSource, run.tracks.subtitles[wanted].stream, run.disc.has_value(),
                                   burnIn.track)) {
    run.engine.log(fmt::format("\u26a0\ufe0f ffmpeg cannot read subtitle track {} ({}); no subtitles are burned in",
                               wanted + 1, *why));
    return;
  }
  nal::OffsetMetadata metadata;
  if (choice.plane) {
    const fs::path offsets = run.workDirectory / "burn_in_offsets.mvc";
    copyOffsetUnits(mvcView, offsets);
    metadata = nal::readOffsetMetadata(offsets);
    burnIn.offsets = offsets;
  }
  const DepthPlacement placement = placeDepth(choice.plane, metadata, burnIn.fixedDepth);
  if (!placement.note.empty())
    run.engine.log(placement.note);
  burnIn.plane = placement.plane;
  if (!placement.plane)
    burnIn.offsets.clear();
  run.burnIn = std::move(burnIn);
}

void noteSubtitlesNotBurned(const PipelineRun &run) {
  const std::string &track = run.job.subtitles.track;
  if (!track.empty() && track != "none")
    run.engine.log(fmt::format("\u26a0\ufe0f --subtitles {}: subtitles are burned into Blu-ray 3D (MVC) sources "
                               "only; this one is converted without",
                               track));
}

} // namespace kestrova::pipeline
