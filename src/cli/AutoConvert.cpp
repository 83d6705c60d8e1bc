#include "cli/AutoConvert.h"

#include "cli/CommandLine.h"
#include "core/ConsoleLine.h"
#include "core/Errors.h"
#include "core/SettingsStore.h"
#include "pipeline/PipelineEngine.h"
#include "pipeline/SourceAnalysis.h"
#include "tools/StopSignals.h"

#include <csignal>
#include <filesystem>
#include <fmt/format.h>
#include <thread>

namespace kestrova::cli {
namespace fs = std::filesystem;

namespace {

constexpr const char *kUsage = "Usage: Kestrova --input <file> --auto-convert [--output <dir>]";

} // namespace

int runAutoConvert(const std::vector<std::string> &arguments) {
  std::signal(SIGPIPE, SIG_IGN);
  // Ctrl-C, SIGTERM and a closed terminal become a cancel of the
  // conversion: its tools are in process groups of their own, so the
  // terminal's signal reaches this process alone, and only a cancel ends
  // them, removes the work folder and the partial outputs.
  tools::blockStopSignals(); // before any thread starts
  auto commandLine = parseCommandLine(arguments);
  if (!commandLine) {
    printPlainLine(kUsage);
    return 1;
  }
  fs::path source = fs::absolute(commandLine->input);
  fs::path output = commandLine->output ? fs::absolute(*commandLine->output) : defaultOutputFolder();

  SettingsStore settings(SettingsStore::defaultPath());
  std::string qualityText = settings.string(SettingsStore::kQualityPreset).value_or("High Quality");
  std::string targetText = settings.string(SettingsStore::kOutputTarget).value_or("Apple Vision Pro (MV-HEVC)");

  printPlainLine(fmt::format("=== Kestrova CLI (Build {}) ===", pipeline::PipelineEngine::kBuildNumber));
  printPlainLine("Input:   " + commandLine->input);
  printPlainLine("Output: " + output.string());
  printPlainLine("Quality: " + qualityText + ", Target: " + targetText);

  std::error_code ignored; // a folder that cannot be made fails the conversion later
  fs::create_directories(output, ignored);

  // A source that cannot be opened would otherwise surface as some tool's
  // failure further down; name the file instead.
  try {
    pipeline::checkSourceFile(source);
  } catch (const SourceError &error) {
    printConsoleLine(std::string("\u274C Pipeline failed: ") + error.what());
    return 1;
  }

  pipeline::PipelineEngine engine;
  engine.onLog = printConsoleLine;

  ConversionJob job;
  job.sourceURL = source;
  job.outputDirectory = output;
  job.qualityPreset = qualityFromSetting(qualityText);
  job.outputCodec = OutputCodec::h264;
  job.outputTarget = targetFromSetting(targetText);
  job.durationLimit = commandLine->durationLimit;
  job.replaceExisting = commandLine->overwrite;
  // The headless mode has always left the side-by-side file beside the
  // MV-HEVC file; a settings file that says not to keep it gets the faster
  // one-encode road.
  if (auto keep = settings.value(SettingsStore::kKeepSBSIntermediate))
    job.keepSideBySide = keep->is_boolean() ? keep->get<bool>() : !keep->is_number() || keep->get<double>() != 0.0;

  int status = 1;
  {
    tools::StopSignalWatcher watcher([&engine](int) { engine.cancel(); });
    // The conversion runs off the main thread, as the window's does.
    std::thread task([&] {
      try {
        auto result = engine.convert(job, std::nullopt, LogFn(printConsoleLine));
        printConsoleLine("\u2705 Conversion complete: " + result.outputPath);
        status = 0;
      } catch (const std::exception &error) {
        if (watcher.received() != 0)
          printConsoleLine("Conversion cancelled; its work files and partial outputs were removed");
        else
          printConsoleLine("\u274C Pipeline failed: " + errorDebugText(error));
      }
    });
    task.join();
    engine.waitForCancellation();
    if (int sig = watcher.received(); sig != 0 && status != 0)
      status = 128 + sig;
  }
  return status;
}

} // namespace kestrova::cli
