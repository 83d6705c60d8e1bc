#pragma once

// The real programs and reference media the edge264-pipe tests run on.

#include "tools/Process.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kestrova::helpers {

/// The shared reference media: "shared" beside the checkout, or beside the
/// folder of worktrees.
std::filesystem::path sharedDir();

/// Runs `program` in `directory` and collects what it prints.
tools::CollectedOutput run(const std::string &program, std::vector<std::string> arguments,
                           const std::filesystem::path &directory);

/// The disc clip's two views (base, MVC) as the real tsMuxeR demuxes them
/// into `directory`; empty paths when tsMuxeR is not built.
std::pair<std::filesystem::path, std::filesystem::path> demuxedViews(const std::filesystem::path &directory);

} // namespace kestrova::helpers
