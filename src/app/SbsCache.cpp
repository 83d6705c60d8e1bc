// The kept SBS intermediate: when a later Vision Pro conversion may start
// from it, and what a fresh conversion leaves behind for reuse.
#include "app/ConverterModel.h"

#include <system_error>

namespace kestrova::app {

namespace fs = std::filesystem;

bool ConverterModel::cacheApplies(const fs::path &file) const {
  if (outputTarget_ != OutputTarget::visionPro || !cachedSBS_)
    return false;
  const CachedSBS &cached = *cachedSBS_;
  std::error_code error;
  return cached.sourceURL == file && cached.qualityPreset == qualityPreset_ && cached.outputCodec == outputCodec_ &&
         cached.durationLimit == cacheDuration() && fs::exists(cached.sbsURL, error);
}

void ConverterModel::handleFreshResult(const fs::path &file, const ConversionResult &result) {
  // A run that kept no side-by-side file leaves nothing to reuse; an older
  // cached file stays on disk but no longer stands for the current settings.
  if (!result.sbsIntermediatePath) {
    if (outputTarget_ == OutputTarget::visionPro && !keepSBSIntermediate_)
      cachedSBS_.reset();
    return;
  }
  fs::path intermediate(*result.sbsIntermediatePath);
  if (outputTarget_ == OutputTarget::visionPro && !keepSBSIntermediate_) {
    std::error_code ignored;
    fs::remove(intermediate, ignored);
    appendLog("\U0001F5D1 Removed SBS intermediate (toggle 'Keep SBS intermediate' to keep it)");
    cachedSBS_.reset();
    return;
  }
  cachedSBS_ = CachedSBS{file, intermediate, qualityPreset_, outputCodec_, cacheDuration()};
  appendLog("\U0001F4BE Cached SBS for reuse: " + intermediate.filename().string());
}

} // namespace kestrova::app
