#include "analysis/FFProbe.h"

#include "analysis/ProbeReport.h"
#include "core/ConsoleLine.h"
#include "core/Errors.h"
#include "core/Utf8.h"
#include "tools/Process.h"

#include <fmt/format.h>

namespace kestrova::analysis {

namespace {
std::string lastLine(const std::string &text) {
  std::size_t end = text.find_last_not_of("\r\n \t");
  if (end == std::string::npos)
    return {};
  std::size_t start = text.find_last_of("\r\n", end);
  return text.substr(start == std::string::npos ? 0 : start + 1,
                     end + 1 - (start == std::string::npos ? 0 : start + 1));
}
} // namespace

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
  std::string output, errors;
  auto process = tools::Process::create(launch);
  process->start([&output](std::string_view chunk) { output.append(chunk); },
                 [&errors](std::string_view chunk) { errors.append(chunk); });
  log("ffprobe process started (pid: " + std::to_string(process->pid()) + ")");
  auto status = process->wait();
  log("ffprobe exited with code: " + std::to_string(status.terminationStatus));
  // A readable file can still draw decoder complaints; only a failure's are news.
  if (!status.success() && !errors.empty() && isValidUtf8(errors))
    log("ffprobe stderr: " + errors.substr(0, 500));
  log("ffprobe output: " + std::to_string(output.size()) + " bytes");
  // A failing ffprobe may still have written a usable report; only one
  // without any stream means the file is not a video ffprobe can read.
  if (!status.success() && !status.signalled && output.find("\"streams\"") == std::string::npos) {
    // ffprobe's own last line says why ("Invalid data found when processing input").
    std::string reason = lastLine(isValidUtf8(errors) ? errors : std::string());
    throw SourceError(fmt::format("\"{}\" is not a video file ffprobe can read{}", url.string(),
                                  reason.empty() ? std::string() : " (" + reason + ")"));
  }
  return readProbeReport(output, url, [this](const std::string &line) { log(line); });
}

} // namespace kestrova::analysis
