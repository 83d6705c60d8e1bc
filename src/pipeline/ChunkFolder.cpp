#include "pipeline/ChunkFolder.h"

#include "tools/RunLock.h"
#include "tools/WorkDirectory.h"

#include <fmt/format.h>
#include <map>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

fs::path chunkFile(const fs::path &folder, int index, ChunkOutput output) {
  return folder / fmt::format("chunk_{:03}{}", index, chunkExtension(output));
}

SourceIdentity runSourceIdentity(const PipelineRun &run) {
  std::error_code ec;
  if (fs::is_regular_file(run.job.sourceURL, ec))
    return identifySource(run.job.sourceURL);
  if (!run.discPlaylist.empty() && fs::is_regular_file(run.discPlaylist, ec))
    return identifySource(run.discPlaylist);
  return identifySource(run.job.sourceURL);
}

void adoptEarlierChunks(const PipelineRun &run, const fs::path &folder, const SourceIdentity &source,
                        const std::string &settings, const std::string &subtitles) {
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator(run.job.outputDirectory, ec)) {
    const fs::path other = entry.path();
    if (other == run.workDirectory || !other.filename().string().starts_with("Kestrova_") ||
        tools::heldByLiveRun(other))
      continue;
    auto manifest = readManifest(other / kChunkFolderName / kChunkManifestName);
    if (!manifest || manifest->source != source || manifest->pictureSettings != settings ||
        manifest->subtitles != subtitles)
      continue;
    fs::rename(other / kChunkFolderName, folder, ec);
    if (ec)
      continue;
    fs::remove_all(other, ec);
    run.engine.verbose("Taking up the chunks of an earlier run from " + other.filename().string());
    return;
  }
}

void keepForNextRun(const PipelineRun &run, const fs::path &folder, int finished, int total) {
  std::error_code ec;
  if (finished == 0 || !fs::exists(folder / kChunkManifestName, ec)) {
    fs::remove_all(folder, ec);
    return;
  }
  for (const auto &entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name != kChunkManifestName && !name.starts_with("chunk_"))
      fs::remove_all(entry.path(), ec);
  }
  const fs::path keep = run.job.outputDirectory / tools::newWorkDirectoryName();
  fs::create_directories(keep, ec);
  if (!ec)
    fs::rename(folder, keep / kChunkFolderName, ec);
  if (ec) {
    run.engine.log("\u26a0\ufe0f The finished chunks could not be kept: " + ec.message());
    return;
  }
  if (finished == total)
    run.engine.log(fmt::format("All {} chunks are finished and kept in {}: running the same conversion again only "
                               "joins them",
                               total, keep.string()));
  else
    run.engine.log(fmt::format("{} of {} chunks are finished and kept in {}: running the same conversion again "
                               "encodes only the rest",
                               finished, total, keep.string()));
}

ResumePlan decideResume(const PipelineRun &run, const fs::path &folder, const SourceIdentity &source,
                        const ChunkPictureSettings &picture, const std::string &subtitles,
                        const std::vector<ChunkSpan> &chunks) {
  const std::string settings = picture.canonical();
  std::optional<ChunkManifest> found;
  if (run.job.chunking.resume)
    found = readManifest(folder / kChunkManifestName);
  std::map<int, ChunkOnDisk> onDisk;
  for (const auto &chunk : chunks)
    if (auto inspected = inspectChunk(chunkFile(folder, chunk.index, picture.output)))
      onDisk[chunk.index] = *inspected;
  ResumePlan plan = planResume(found, source, settings, chunks, onDisk, subtitles);
  if (!plan.startOver && !plan.reuse.empty()) {
    run.engine.log(fmt::format("Resuming: {} of {} chunks done", plan.reuse.size(), chunks.size()));
    if (run.engine.onResume)
      run.engine.onResume({static_cast<int>(plan.reuse.size()), static_cast<int>(chunks.size())});
  } else if (found)
    run.engine.log("Starting over: " + plan.reason);
  if (plan.startOver) {
    std::error_code ec;
    for (const auto &chunk : chunks) {
      fs::remove(chunkFile(folder, chunk.index, picture.output), ec);
      fs::remove(chunkFile(folder, chunk.index, picture.output).string() + ".frames", ec);
    }
  }
  return plan;
}

} // namespace kestrova::pipeline
