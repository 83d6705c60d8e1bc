#pragma once

#include "core/Log.h"
#include "core/Records.h"
#include "tools/ToolLocator.h"

#include <filesystem>
#include <optional>

namespace kestrova::analysis {

/// Runs ffprobe on a media file and reads its report into a SourceFileInfo.
/// Every log line goes to `onLog` and also to standard output as
/// "[FFProbe] " + line. Safe to use from any thread; keeps no state besides
/// its log sink and locator.
class FFProbe {
public:
  explicit FFProbe(tools::ToolLocator locator, LogFn onLog = {});

  LogFn onLog;

  /// The analysed facts, or nothing when ffprobe's output is not a JSON
  /// object. Throws AnalysisError "ffprobe not found" when there is no
  /// ffprobe, and the launch error when it cannot be started.
  std::optional<SourceFileInfo> analyze(const std::filesystem::path &url) const;

private:
  void log(const std::string &line) const;
  tools::ToolLocator locator_;
};

} // namespace kestrova::analysis
