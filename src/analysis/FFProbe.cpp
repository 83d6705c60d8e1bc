#include "analysis/FFProbe.h"

#include "analysis/ProbeReport.h"
#include "core/ConsoleLine.h"
#include "core/Errors.h"
#include "tools/Process.h"

#include <fmt/format.h>

namespace kestrova::analysis {

FFProbe::FFProbe(tools::ToolLocator locator, LogFn onLog) : onLog(std::move(onLog)), locator_(std::move(locator)) {}

void FFProbe::log(const std::string &line) const {
  if (onLog)
    onLog(line);
  printPlainLine("[FFProbe] " + line);
}

std::optional<SourceFileInfo> FFProbe::analyze(const std::filesystem::path &url) const {
  log("Looking for ffprobe...");
  auto ffprobe = locator_.findTool("ffprobe");
  if (!ffprobe) {
    log("ERROR: ffprobe not found in any search path");
    throw AnalysisError("ffprobe not found");
  }
  log("Found ffprobe at: " + *ffprobe);

  tools::ProcessLaunch launch;
  launch.executable = *ffprobe;
  launch.arguments = {"-v", "error", "-print_format", "json", "-show_format", "-show_streams", url.string()};
  log("Running ffprobe on: " + url.filename().string());
  std::string output;
  tools::LastLines errors(10);
  tools::LineReader errorLines([&errors](std::string_view line) {
    if (line.find_first_not_of(" \t") != std::string_view::npos)
      errors.add(line);
  });
  auto process = tools::Process::create(launch);
  process->start([&output](std::string_view chunk) { output.append(chunk); },
                 [&errorLines](std::string_view chunk) { errorLines.feed(chunk); });
  log("ffprobe process started (pid: " + std::to_string(process->pid()) + ")");
  auto status = process->wait();
  errorLines.finish();
  log("ffprobe exited with code: " + std::to_string(status.terminationStatus));
  // A readable file can still draw decoder complaints; only a failure's are news.
  if (!status.success() && !errors.lines().empty())
    log("ffprobe stderr: " + errors.joined());
  log("ffprobe output: " + std::to_string(output.size()) + " bytes");
  // A failing ffprobe may still have written a usable report; only one
  // without any stream means the file is not a video ffprobe can read.
  if (!status.success() && !status.signalled && output.find("\"streams\"") == std::string::npos) {
    // ffprobe's own last line says why ("Invalid data found when processing input").
    std::string reason = errors.joined(1);
    throw SourceError(fmt::format("\"{}\" is not a video file ffprobe can read{}", url.string(),
                                  reason.empty() ? std::string() : " (" + reason + ")"));
  }
  return readProbeReport(output, url, [this](const std::string &line) { log(line); });
}

} // namespace kestrova::analysis
