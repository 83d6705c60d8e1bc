#include "pipeline/ChunkedEncode.h"
#include "pipeline/RequiredTool.h"

#include "core/Errors.h"
#include "demux/Demux.h"
#include "pipeline/ChunkFolder.h"
#include "pipeline/ChunkHosts.h"
#include "pipeline/ChunkJob.h"
#include "pipeline/ChunkManifest.h"
#include "pipeline/ChunkPlan.h"
#include "pipeline/ChunkSbs.h"
#include "pipeline/EncoderParameters.h"
#include "pipeline/LayoutRequest.h"
#include "pipeline/ToolBlame.h"
#include "pipeline/ViewCutter.h"
#include "pipeline/WorkSpace.h"
#include "tools/Process.h"
#include "tools/RunLock.h"
#include "tools/WorkDirectory.h"

#include <algorithm>
#include <atomic>
#include <fmt/format.h>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <tuple>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

namespace {

// The run's burned-in subtitles, copied beside the pieces that every chunk job reads them with.
constexpr const char *kSubtitleTrackName = "subtitles.sup";
constexpr const char *kSubtitleOffsetsName = "subtitle_offsets.mvc";

/// The chunk's burn-in, with the run's subtitle files named inside `folder`.
std::optional<ChunkBurnIn> chunkBurnIn(const std::optional<SubtitleBurnIn> &run, const ChunkSpan &span,
                                       const fs::path &folder) {
  if (!run)
    return std::nullopt;
  ChunkBurnIn burnIn{*run, span.firstFrame};
  burnIn.subtitles.track = folder / kSubtitleTrackName;
  if (!burnIn.subtitles.offsets.empty())
    burnIn.subtitles.offsets = folder / kSubtitleOffsetsName;
  return burnIn;
}

/// The chunk job `index` of `span` for a scheduler, its files named inside
/// `folder` (the chunk folder as the job will see it).
ParallelChunk parallelChunk(const fs::path &folder, int index, const ChunkSpan &span,
                            const ChunkPictureSettings &picture, const std::optional<SubtitleBurnIn> &runBurnIn) {
  const auto [piece, mvc] = chunkPieces(folder, index, picture.input);
  ParallelChunk chunk{
      index, piece.string(), mvc.string(), chunkFile(folder, index, picture.output).string(), span.frameCount, {}, {}};
  if (auto burnIn = chunkBurnIn(runBurnIn, span, folder)) {
    chunk.burnIn = burnIn->canonical();
    chunk.sharedFiles = {burnIn->subtitles.track.string()};
    if (!burnIn->subtitles.offsets.empty())
      chunk.sharedFiles.push_back(burnIn->subtitles.offsets.string());
  }
  return chunk;
}

/// Moves the cut chunk folder into a work folder of its own, without a lock,
/// lists there the command of each chunk in `encode` (absolute paths, for a
/// shared file system) and stops the run.
/// `fastDecoderOnly`: the chunks whose machines need edge264-pipe.
[[noreturn]] void leaveForScheduler(const PipelineRun &run, const fs::path &folder, const ChunkManifest &manifest,
                                    const std::vector<int> &encode, const std::vector<int> &fastDecoderOnly,
                                    const ChunkPictureSettings &picture) {
  const fs::path keep = fs::absolute(run.job.outputDirectory / tools::newWorkDirectoryName()) / kChunkFolderName;
  fs::create_directories(keep.parent_path());
  fs::rename(folder, keep);
  std::string commands;
  for (int index : encode)
    commands += encodeChunkCommand(parallelChunk(keep, index, manifest.chunks[static_cast<std::size_t>(index)].span,
                                                 picture, run.burnIn),
                                   picture) +
                "\n";
  const fs::path list = keep / "commands";
  demux::writeFileAtomically(list, commands);
  std::string needs;
  for (int index : fastDecoderOnly)
    needs += (needs.empty() ? "" : " ") + chunkFile(keep, index, picture.output).filename().string();
  if (!needs.empty())
    needs = ". The jobs of " + needs +
            " start at open GOPs that only edge264 decodes from: run them where `kestrova --version` lists "
            "edge264-pipe";
  throw ChunksCutOnly(fmt::format("{} of {} chunks are cut, not encoded: run the {} commands in {} (one a line, for "
                                  "example as a job array), then run the same conversion again to join them{}",
                                  encode.size(), manifest.chunks.size(), encode.size(), list.string(), needs),
                      list);
}

/// The chunk jobs of one run, K at a time, and the manifest they keep up to date.
class ChunkScheduler {
public:
  ChunkScheduler(PipelineRun &run, ChunkManifest &manifest, const fs::path &folder, ChunkJobTools tools,
                 ChunkPictureSettings picture, std::optional<SubtitleBurnIn> burnIn)
      : run_(run), manifest_(manifest), folder_(folder), tools_(std::move(tools)), picture_(std::move(picture)),
        burnIn_(std::move(burnIn)) {
    for (const auto &row : manifest.chunks) {
      total_ += row.span.frameCount;
      if (row.encodedBytes)
        reused_ += row.span.frameCount;
    }
  }

  int finished() const { return finished_.load(); }

  void run(const std::vector<int> &indexes, int jobs) {
    std::stop_callback onCancel(run_.engine.stopToken(), [this] { stop_.request_stop(); });
    // K encoders that each start a thread per core would crowd the cores: a
    // share each wastes less time waiting on the others (4 % less time for two
    // encoders on two cores).
    encoderThreads_ = std::max(1, thisMachine().cores / std::max(1, jobs));
    frames_ = std::vector<std::atomic<std::int64_t>>(manifest_.chunks.size());
    report(); // a resumed run starts where the earlier one stopped
    {
      std::vector<std::jthread> workers;
      for (int k = 0; k < jobs; ++k)
        workers.emplace_back([this, &indexes] { work(indexes); });
    }
    if (error_)
      std::rethrow_exception(error_);
    if (run_.engine.isCancelled())
      throw ConversionError::cancelled();
  }

  /// The jobs through GNU parallel over `logins` (this machine first),
  /// running `program --encode-chunk`.
  void runThroughParallel(const std::vector<int> &indexes, const std::vector<std::string> &logins,
                          const std::string &program) {
    frames_ = std::vector<std::atomic<std::int64_t>>(manifest_.chunks.size());
    // From the output folder, so that the paths the hosts see name this run's work folder.
    const fs::path from = folder_.parent_path().parent_path();
    const fs::path relative = folder_.lexically_relative(from);
    std::vector<ParallelChunk> chunks;
    for (int index : indexes) {
      const ChunkSpan &span = manifest_.chunks[static_cast<std::size_t>(index)].span;
      chunks.push_back(parallelChunk(relative, index, span, picture_, burnIn_));
    }
    runChunksThroughParallel(run_.engine, from, folder_, chunks, picture_, logins, program,
                             [this](int index, std::int64_t done) {
                               if (index >= 0 && static_cast<std::size_t>(index) < frames_.size())
                                 frames_[static_cast<std::size_t>(index)] = done;
                               report();
                             });
    std::string failed;
    for (int index : indexes) {
      try {
        recordFinished(index);
      } catch (const ConversionError &error) {
        failed += (failed.empty() ? "" : "; ") + error.detail();
      }
    }
    if (!failed.empty())
      throw ConversionError::encodingFailed("chunks failed on every machine tried: " + failed);
  }

private:
  void work(const std::vector<int> &indexes) {
    for (std::size_t next = next_++; next < indexes.size() && !stop_.stop_requested(); next = next_++) {
      try {
        encodeOne(indexes[next]);
      } catch (...) {
        std::lock_guard lock(mutex_);
        if (!error_ && !run_.engine.isCancelled())
          error_ = std::current_exception();
        stop_.request_stop();
      }
    }
  }

  void encodeOne(int index) {
    const ChunkSpan span = manifest_.chunks[static_cast<std::size_t>(index)].span;
    ChunkJobRequest request;
    std::tie(request.basePiece, request.mvcPiece) = chunkPieces(folder_, index, picture_.input);
    request.output = chunkFile(folder_, index, picture_.output);
    request.folder = folder_ / fmt::format("job_{:03}", index);
    request.pairs = span.frameCount;
    request.picture = picture_;
    request.burnIn = chunkBurnIn(burnIn_, span, folder_);
    request.encoderThreads = encoderThreads_;
    runChunkJob(
        request, tools_,
        [this, index](std::int64_t done) {
          frames_[static_cast<std::size_t>(index)] = done;
          report();
        },
        stop_.get_token());
    recordFinished(index);
  }

  /// Checks the chunk's file against its span and records it as finished.
  void recordFinished(int index) {
    const ChunkSpan span = manifest_.chunks[static_cast<std::size_t>(index)].span;
    const fs::path file = chunkFile(folder_, index, picture_.output);
    const auto onDisk = inspectChunk(file);
    if (!onDisk || onDisk->frames != span.frameCount)
      throw ConversionError::encodingFailed(fmt::format("chunk {} holds {} of its {} pictures",
                                                        file.filename().string(), onDisk ? onDisk->frames : 0,
                                                        span.frameCount));
    std::lock_guard lock(mutex_);
    manifest_.chunks[static_cast<std::size_t>(index)].encodedBytes = onDisk->bytes;
    writeManifestAtomically(manifest_, folder_ / kChunkManifestName);
    ++finished_;
  }

  void report() {
    std::int64_t done = reused_;
    for (const auto &frames : frames_)
      done += frames.load();
    if (total_ > 0)
      run_.report(isSideBySideChunk(picture_.output) ? ConversionStage::encoding : ConversionStage::convertingMVHEVC,
                  0.3 + 0.65 * static_cast<double>(std::min(done, total_)) / static_cast<double>(total_));
  }

  PipelineRun &run_;
  ChunkManifest &manifest_;
  fs::path folder_;
  ChunkJobTools tools_;
  ChunkPictureSettings picture_;
  std::optional<SubtitleBurnIn> burnIn_;
  std::int64_t total_ = 0;
  std::int64_t reused_ = 0;
  std::vector<std::atomic<std::int64_t>> frames_;
  std::atomic<std::size_t> next_{0};
  std::atomic<int> finished_{0};
  int encoderThreads_ = 0;
  std::stop_source stop_;
  std::mutex mutex_;
  std::exception_ptr error_;
};

void joinChunks(PipelineRun &run, const std::vector<fs::path> &chunks, const fs::path &output,
                const std::vector<std::string> &converterTracks) {
  run.report(ConversionStage::convertingMVHEVC, 0.96);
  tools::ProcessLaunch launch;
  launch.executable = requireTool(run.engine, "MVHEVCConverter");
  launch.arguments = {"--join", output.string()};
  for (const auto &chunk : chunks)
    launch.arguments.push_back(chunk.string());
  if (converterTracks.empty())
    launch.arguments.insert(launch.arguments.end(), {"--sound", run.trackSource.string()});
  else
    launch.arguments.insert(launch.arguments.end(), converterTracks.begin(), converterTracks.end());
  auto process = run.engine.createCurrentProcess(std::move(launch));
  const auto status = tools::runAndStreamLines(*process, {}, {});
  if (run.engine.isCancelled())
    throw ConversionError::cancelled();
  if (!status.success()) {
    // Chunks that differ because another machine encoded them (another
    // encoder build there) name that machine.
    const std::string reason = reasonLine(process->errorTail());
    throw ConversionError::encodingFailed("the chunks could not be joined: " + reason +
                                          chunkMachines(chunks.front().parent_path(), reason));
  }
}

/// This machine and the hosts of the run's login file that have this very
/// kestrova, and edge264-pipe when `needsFastDecoder`.
std::vector<std::string> hostLogins(const PipelineRun &run, int localJobs, bool needsFastDecoder) {
  tools::ProcessLaunch launch;
  launch.executable = fs::read_symlink("/proc/self/exe").string();
  launch.arguments = {"--version"};
  const auto version = tools::runAndCollect(launch);
  return usableLogins(run.engine, run.job.chunking.hosts, version.standardOutput, localJobs, needsFastDecoder);
}

/// The chunks of `encode` that start where only edge264 decodes from.
std::vector<int> fastDecoderChunks(const FilmCuts &scan, const std::vector<ChunkSpan> &chunks,
                                   const std::vector<int> &encode) {
  std::vector<int> only;
  for (int index : encode)
    if (std::ranges::find(scan.fastDecoderStarts, chunks[static_cast<std::size_t>(index)].firstFrame) !=
        scan.fastDecoderStarts.end())
      only.push_back(index);
  return only;
}

} // namespace

ChunkPictureSettings chunkPictureSettings(const PipelineRun &run) {
  ChunkPictureSettings picture;
  picture.quality = spatialQualityText(run.job.qualityPreset);
  picture.capMbps = spatialRateCapMbps(run.job.qualityPreset);
  picture.width = run.width;
  picture.height = run.height;
  picture.frameRateNum = run.frameRateNum;
  picture.frameRateDen = run.frameRateDen;
  picture.rightFirst = firstViewIsRight(run.stereoMode, run.disc && run.disc->playlist.baseViewIsRight);
  const Stereo3DMode &layout = run.stereoMode;
  const bool half = layout.eyeSize() == Stereo3DMode::EyeSize::half;
  using Kind = Stereo3DMode::Kind;
  if (layout.kind() == Kind::sideBySide) {
    picture.input = half ? ChunkInput::halfSbs : ChunkInput::fullSbs;
    picture.width = half ? run.width : run.width / 2;
  } else if (layout.kind() == Kind::topAndBottom) {
    picture.input = half ? ChunkInput::halfTab : ChunkInput::fullTab;
    picture.height = half ? run.height : run.height / 2;
  } else if (layout.kind() == Kind::frameAlternate) {
    // Each eye has every other picture.
    picture.input = ChunkInput::frameAlternate;
    picture.frameRateDen = 2 * run.frameRateDen;
  }
  return picture;
}

bool prefersChunkedEncode(double seconds, const ChunkingOptions &options) {
  return options.jobs > 0 || !options.hosts.empty() || options.cutOnly ||
         (options.chunkSeconds > 0 && seconds > 2 * options.chunkSeconds);
}

namespace {

/// What joins the finished chunks (in order, `pictures` in all) into the run's file.
using ChunkJoin =
    std::function<void(const fs::path &folder, const std::vector<fs::path> &chunks, std::int64_t pictures)>;

/// The run's chunk folder: an earlier run's taken up when it did the same
/// conversion, with the burned-in subtitles every chunk job reads beside the pieces.
void prepareChunkFolder(const PipelineRun &run, const fs::path &folder, const SourceIdentity &source,
                        const std::string &settings, const std::string &subtitles) {
  if (run.job.chunking.resume)
    adoptEarlierChunks(run, folder, source, settings, subtitles);
  fs::create_directories(folder);
  if (run.burnIn) {
    fs::copy_file(run.burnIn->track, folder / kSubtitleTrackName, fs::copy_options::overwrite_existing);
    if (!run.burnIn->offsets.empty())
      fs::copy_file(run.burnIn->offsets, folder / kSubtitleOffsetsName, fs::copy_options::overwrite_existing);
  }
}

/// Cuts the film and encodes the chunks `encode` lists, here or on the run's
/// hosts; a run asked only to cut stops here with ChunksCutOnly.
void encodeMissingChunks(PipelineRun &run, const ChunkCutter &cutter, const ChunkPictureSettings &picture,
                         const fs::path &folder, const ChunkManifest &manifest, const FilmCuts &scan,
                         const std::vector<ChunkSpan> &chunks, const std::vector<int> &encode,
                         ChunkScheduler &scheduler) {
  // The pieces are a second copy of the film; the chunks are about as big again.
  requireSpace(run.workDirectory, 2 * cutter.bytes);
  const bool elsewhere = !run.job.chunking.hosts.empty() && !run.job.chunking.cutOnly;
  const bool remoteOnly = elsewhere && run.job.chunking.remoteOnly;
  const int jobs = chooseJobCount(thisMachine(), static_cast<int>(encode.size()), run.job.chunking.jobs);
  const std::vector<int> fastDecoderOnly = fastDecoderChunks(scan, chunks, encode);
  // Every machine is asked once, before the film is cut.
  const auto logins =
      elsewhere ? hostLogins(run, remoteOnly ? 0 : jobs, !fastDecoderOnly.empty()) : std::vector<std::string>();
  cutter.cut(chunks, folder);
  if (run.job.chunking.cutOnly)
    leaveForScheduler(run, folder, manifest, encode, fastDecoderOnly, picture);
  run.engine.log(fmt::format("=== Chunked encode: {} {} of about {} s, {} to encode, {} ({}) ===", chunks.size(),
                             chunks.size() == 1 ? "chunk" : "chunks", run.job.chunking.chunkSeconds, encode.size(),
                             remoteOnly ? std::string("none on this machine") : fmt::format("{} at once", jobs),
                             cutter.jobText));
  if (elsewhere)
    scheduler.runThroughParallel(encode, logins, fs::read_symlink("/proc/self/exe"));
  else
    scheduler.run(encode, jobs);
}

/// The chunked road for any source and output: cut, encode what an earlier
/// run did not leave, join; the chunks kept for the next run when it fails.
void encodeInChunks(PipelineRun &run, const ChunkCutter &cutter, const ChunkPictureSettings &picture,
                    const ChunkJoin &join) {
  const bool sideBySide = isSideBySideChunk(picture.output);
  run.report(sideBySide ? ConversionStage::encoding : ConversionStage::convertingMVHEVC, 0.3);
  const fs::path folder = run.workDirectory / kChunkFolderName;
  const std::string settings = picture.canonical();
  // Burned-in subtitles change the pictures as much as the picture settings do.
  const std::string subtitles = burnInIdentity(run.burnIn);
  const SourceIdentity source = runSourceIdentity(run);
  prepareChunkFolder(run, folder, source, settings, subtitles);

  const FilmCuts scan = cutter.scan();
  const double fps = static_cast<double>(picture.frameRateNum) / static_cast<double>(picture.frameRateDen);
  const auto chunks = planChunks(scan.starts, scan.pictures, fps, run.job.chunking.chunkSeconds);
  const ResumePlan resume = decideResume(run, folder, source, picture, subtitles, chunks);
  ChunkManifest manifest{source, settings, subtitles, {}};
  for (const auto &chunk : chunks)
    manifest.chunks.push_back({chunk, std::nullopt});
  for (int index : resume.reuse)
    manifest.chunks[static_cast<std::size_t>(index)].encodedBytes =
        inspectChunk(chunkFile(folder, index, picture.output))->bytes;
  writeManifestAtomically(manifest, folder / kChunkManifestName);

  ChunkScheduler scheduler(run, manifest, folder, cutter.tools, picture, run.burnIn);
  try {
    if (!resume.encode.empty())
      encodeMissingChunks(run, cutter, picture, folder, manifest, scan, chunks, resume.encode, scheduler);
    std::vector<fs::path> files;
    std::int64_t pictures = 0;
    for (const auto &chunk : chunks) {
      files.push_back(chunkFile(folder, chunk.index, picture.output));
      pictures += chunk.frameCount;
    }
    join(folder, files, pictures);
  } catch (const ChunksCutOnly &) {
    throw;
  } catch (...) {
    // Counted on disk: chunks that other machines returned before the stop count too.
    const auto whole = std::count_if(chunks.begin(), chunks.end(), [&](const ChunkSpan &chunk) {
      const auto onDisk = inspectChunk(chunkFile(folder, chunk.index, picture.output));
      return onDisk && onDisk->frames == chunk.frameCount;
    });
    keepForNextRun(run, folder, static_cast<int>(whole), static_cast<int>(chunks.size()));
    throw;
  }
  std::error_code ec;
  fs::remove_all(folder, ec);
}

} // namespace

void encodeChunkedMvhevc(PipelineRun &run, const ChunkCutter &cutter, const ChunkPictureSettings &picture,
                         const fs::path &output, const std::vector<std::string> &converterTracks) {
  encodeInChunks(run, cutter, picture, [&](const fs::path &, const std::vector<fs::path> &chunks, std::int64_t) {
    joinChunks(run, chunks, output, converterTracks);
  });
}

void encodeChunked(PipelineRun &run, const std::string &decoder, const ViewFiles &views, const fs::path &output,
                   const std::vector<std::string> &converterTracks) {
  encodeChunkedMvhevc(run, viewCutter(run.engine, decoder, views, ChunkOutput::mvhevc), chunkPictureSettings(run),
                      output, converterTracks);
}

void encodeChunkedSideBySide(PipelineRun &run, const std::string &decoder, const ViewFiles &views,
                             const fs::path &output) {
  ChunkPictureSettings picture = chunkPictureSettings(run);
  setSideBySideChunkOutput(picture, run.job.qualityPreset, run.job.outputCodec, output);
  encodeInChunks(run, viewCutter(run.engine, decoder, views, picture.output), picture,
                 [&](const fs::path &folder, const std::vector<fs::path> &chunks, std::int64_t pictures) {
                   joinSegments(run, chunks, pictures, folder, output);
                 });
}

} // namespace kestrova::pipeline
