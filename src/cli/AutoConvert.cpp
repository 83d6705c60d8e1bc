#include "cli/AutoConvert.h"

#include "cli/JobOptions.h"
#include "core/ConsoleLine.h"
#include "core/Errors.h"
#include "core/HomeDirectory.h"
#include "core/SettingsStore.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/SourceAnalysis.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fmt/format.h>
#include <thread>

namespace kestrova::cli {
namespace fs = std::filesystem;

namespace {

// Ctrl-C and SIGTERM become a cancel of the conversion: its tools are in
// process groups of their own, so the terminal's signal reaches this process
// alone, and only a cancel ends them, removes the work folder and the
// partial outputs. The signals are blocked in every thread (children get an
// empty mask back) and taken here, by one thread.
class StopSignalWatcher {
public:
  explicit StopSignalWatcher(pipeline::PipelineEngine &engine)
      : thread_([this, &engine](std::stop_token stop) { watch(engine, stop); }) {}

  /// The stop signal that arrived, or 0.
  int received() const { return received_.load(); }

  static void blockStopSignals() {
    // A shell starts a background command with SIGINT ignored, and an
    // ignored signal is dropped before it could be waited for.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stops = stopSignals();
    ::pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  }

private:
  static sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
  }

  void watch(pipeline::PipelineEngine &engine, const std::stop_token &stop) {
    sigset_t stops = stopSignals();
    const timespec pollInterval{0, 100'000'000};
    while (!stop.stop_requested()) {
      int sig = ::sigtimedwait(&stops, nullptr, &pollInterval);
      if (sig <= 0 || received_.load() != 0)
        continue;
      received_ = sig;
      engine.cancel();
    }
  }

  std::atomic<int> received_{0};
  std::jthread thread_;
};

// One source, converted off the main thread as the window does. Returns
// whether it was converted; prints its status line either way.
bool convertOne(pipeline::PipelineEngine &engine, const StopSignalWatcher &watcher, const ConversionJob &job) {
  // A source that cannot be opened would otherwise surface as some tool's
  // failure further down; name the file instead.
  try {
    pipeline::checkSourceFile(job.sourceURL);
  } catch (const SourceError &error) {
    printConsoleLine(std::string("\u274C Pipeline failed: ") + error.what());
    return false;
  }
  bool converted = false;
  std::thread task([&] {
    try {
      auto result = engine.convert(job, std::nullopt, LogFn(printConsoleLine));
      printConsoleLine("\u2705 Conversion complete: " + result.outputPath);
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

void warn(const std::string &text) {
  std::fputs(("kestrova: " + text + "\n").c_str(), stderr);
}

} // namespace

int runAutoConvert(const CommandLine &line) {
  std::signal(SIGPIPE, SIG_IGN);
  StopSignalWatcher::blockStopSignals(); // before any thread starts
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

  printPlainLine(fmt::format("=== Kestrova CLI (Build {}) ===", pipeline::PipelineEngine::kBuildNumber));
  for (const auto &input : line.inputs)
    printPlainLine("Input:   " + input);
  printPlainLine("Output: " + output.string());
  printPlainLine(fmt::format("Quality: {}, Target: {}", rawValue(plan.qualityPreset), rawValue(plan.outputTarget)));

  std::error_code ignored; // a folder that cannot be made fails the conversion later
  fs::create_directories(output, ignored);

  pipeline::PipelineEngine engine;
  engine.onLog = printConsoleLine;
  StopSignalWatcher watcher(engine);
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
    if (convertOne(engine, watcher, jobFor(line, stored, durationLimit, fs::absolute(input), output)))
      ++converted;
  }
  if (count > 1)
    printConsoleLine(fmt::format("Batch finished: {} of {} files converted", converted, count));
  if (int sig = watcher.received(); sig != 0 && converted != count)
    return 128 + sig;
  return converted == count ? 0 : 1;
}

} // namespace kestrova::cli
