#include "cli/AutoConvert.h"
#include "tools/StopSignals.h"

#include "cli/JobOptions.h"
#include "core/ConsoleLine.h"
#include "core/Errors.h"
#include "core/HomeDirectory.h"
#include "core/Log.h"
#include "core/SettingsStore.h"
#include "pipeline/ChunkedEncode.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/SourceAnalysis.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fmt/format.h>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace kestrova::cli {
namespace fs = std::filesystem;

namespace {

// The warnings ("⚠️" lines) of the conversion running, said again before
// its result: a long run's progress lines push them out of sight. Lines may
// come from the run's worker threads.
class RunWarnings {
public:
  void note(const std::string &line) {
    if (!isWarningLine(line))
      return;
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
  }
  std::vector<std::string> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(lines_, {});
  }

private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

// One source, converted off the main thread as the window does. Returns
// whether it was converted; prints its status line either way.
bool convertOne(pipeline::PipelineEngine &engine, const tools::StopSignalWatcher &watcher, const ConversionJob &job,
                RunWarnings &warnings) {
  // A source that cannot be opened would otherwise surface as some tool's
  // failure further down; name the file instead.
  try {
    pipeline::checkSourceFile(job.sourceURL);
  } catch (const SourceError &error) {
    printConsoleLine(std::string("\u274C Pipeline failed: ") + error.what());
    return false;
  }
  bool converted = false;
  warnings.take();
  std::thread task([&] {
    try {
      auto result = engine.convert(job, std::nullopt, engine.onLog);
      if (const auto said = warnings.take(); !said.empty()) {
        printConsoleLine(fmt::format("Warnings of this conversion ({}), as said above:", said.size()));
        for (const auto &line : said)
          printConsoleLine(line);
      }
      printConsoleLine("\u2705 Conversion complete: " + result.outputPath);
      converted = true;
    } catch (const pipeline::ChunksCutOnly &cut) {
      printConsoleLine(std::string("\u2702\ufe0f ") + cut.what());
      converted = true;
    } catch (const std::exception &error) {
      if (watcher.received() != 0)
        printConsoleLine("Conversion cancelled; its work files and partial outputs were removed");
      else
        printConsoleLine("\u274C Pipeline failed: " + errorDebugText(error));
    }
  });
  task.join();
  engine.waitForCancellation();
  return converted;
}

void printBanner(const CommandLine &line, const fs::path &output, const ConversionJob &plan) {
  printPlainLine(fmt::format("=== Kestrova CLI (Build {}) ===", pipeline::PipelineEngine::kBuildNumber));
  for (const auto &input : line.inputs)
    printPlainLine("Input:   " + input);
  printPlainLine("Output: " + output.string());
  printPlainLine(fmt::format("Quality: {}, Target: {}", rawValue(plan.qualityPreset), rawValue(plan.outputTarget)));
}

void warn(const std::string &text) {
  std::fputs(("kestrova: " + text + "\n").c_str(), stderr);
}

} // namespace

int runAutoConvert(const CommandLine &line) {
  std::signal(SIGPIPE, SIG_IGN);
  // Ctrl-C, SIGTERM and a closed terminal become a cancel of the
  // conversion: its tools are in process groups of their own, so the
  // terminal's signal reaches this process alone, and only a cancel ends
  // them, removes the work folder and the partial outputs.
  tools::blockStopSignals(); // before any thread starts
  std::optional<std::int64_t> durationLimit;
  if (line.duration) {
    DurationReading duration = readDuration(*line.duration);
    if (duration.warning)
      warn(*duration.warning);
    durationLimit = duration.limit;
  }
  fs::path output;
  std::optional<SettingsStore> settings;
  try {
    output = line.output ? fs::absolute(*line.output) : defaultOutputFolder();
    settings.emplace(SettingsStore::defaultPath());
  } catch (const NoHomeError &error) {
    warn(error.what());
    return 1;
  }
  const StoredChoices stored = readStoredChoices(*settings);
  const ConversionJob plan = jobFor(line, stored, durationLimit, {}, output);
  if (line.remoteOnly && plan.chunking.hosts.empty()) {
    warn("--remote-only leaves this machine out of the chunk encoding, so it needs other machines: give --hosts "
         "FILE (or store a hosts file in the window)");
    return 2;
  }

  printBanner(line, output, plan);
  std::error_code ignored; // a folder that cannot be made fails the conversion later
  fs::create_directories(output, ignored);

  pipeline::PipelineEngine engine;
  RunWarnings warnings;
  engine.onLog = [&warnings](const std::string &line) {
    printConsoleLine(line);
    warnings.note(line);
  };
  tools::StopSignalWatcher watcher([&engine](int) { engine.cancel(); });
  const std::size_t count = line.inputs.size();
  std::size_t converted = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string &input = line.inputs[i];
    if (watcher.received() != 0) {
      printConsoleLine("Not converted (the run was stopped): " + input);
      continue;
    }
    if (count > 1)
      printConsoleLine(fmt::format("File {} of {}: {}", i + 1, count, input));
    if (convertOne(engine, watcher, jobFor(line, stored, durationLimit, fs::absolute(input), output), warnings))
      ++converted;
  }
  if (count > 1)
    printConsoleLine(fmt::format("Batch finished: {} of {} files converted", converted, count));
  if (int sig = watcher.received(); sig != 0 && converted != count)
    return 128 + sig;
  return converted == count ? 0 : 1;
}

} // namespace kestrova::cli
