#include "core/Records.h"

#include "core/SettingsStore.h"

#include <cmath>
#include <fmt/format.h>

namespace kestrova {

std::string formatDurationText(double seconds) {
  // Anything without a whole-second value in range has no meaningful text;
  // zero is the safe reading.
  std::int64_t whole = 0;
  if (std::isfinite(seconds) && std::fabs(seconds) < 9.2e18)
    whole = static_cast<std::int64_t>(std::trunc(seconds));
  return fmt::format("{:02d}:{:02d}:{:02d}", whole / 3600, (whole % 3600) / 60, whole % 60);
}

std::string SourceFileInfo::durationText() const {
  return formatDurationText(duration);
}

ChunkingOptions storedChunking(const SettingsStore &store) {
  ChunkingOptions chunking;
  if (auto seconds = store.value(SettingsStore::kChunkSeconds); seconds && seconds->is_number() && *seconds > 0)
    chunking.chunkSeconds = seconds->get<double>();
  if (auto jobs = store.value(SettingsStore::kJobs); jobs && jobs->is_number_integer() && *jobs > 0)
    chunking.jobs = jobs->get<int>();
  if (auto hosts = store.string(SettingsStore::kHosts))
    chunking.hosts = *hosts;
  if (auto remoteOnly = store.boolean(SettingsStore::kRemoteOnly))
    chunking.remoteOnly = *remoteOnly;
  return chunking;
}

} // namespace kestrova
