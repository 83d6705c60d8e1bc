#include "cli/AutoConvert.h"

#include "cli/CommandLine.h"
#include "core/ConsoleLine.h"
#include "core/Errors.h"
#include "core/SettingsStore.h"
#include "pipeline/PipelineEngine.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fmt/format.h>
#include <thread>
#include <unistd.h>

namespace kestrova::cli {
namespace fs = std::filesystem;

namespace {

// A source that cannot be opened would otherwise surface as some tool's
// failure further down; name the file instead.
std::optional<std::string> unreadableInputReason(const fs::path &input) {
  std::error_code ec;
  if (fs::is_directory(input, ec))
    return fmt::format("Cannot read input file \"{}\": it is a directory", input.string());
  int fd = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return fmt::format("Cannot read input file \"{}\": {}", input.string(), std::strerror(errno));
  ::close(fd);
  return std::nullopt;
}

} // namespace

int runAutoConvert(const std::vector<std::string> &arguments) {
  std::signal(SIGPIPE, SIG_IGN);
  auto commandLine = parseCommandLine(arguments);
  if (!commandLine) {
    printPlainLine("Usage: Kestrova --input <file> --auto-convert [--output <dir>]");
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

  if (auto reason = unreadableInputReason(source)) {
    printConsoleLine("\u274C Pipeline failed: " + *reason);
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

  int status = 1;
  // The conversion runs off the main thread, as the window's does.
  std::thread task([&] {
    try {
      auto result = engine.convert(job, std::nullopt, LogFn(printConsoleLine));
      printConsoleLine("\u2705 Conversion complete: " + result.outputPath);
      status = 0;
    } catch (const std::exception &error) {
      printConsoleLine("\u274C Pipeline failed: " + errorDebugText(error));
    }
  });
  task.join();
  return status;
}

} // namespace kestrova::cli
