#include "pipeline/StreamDecoderChoice.h"

#include "pipeline/PipelineEngine.h"

namespace kestrova::pipeline {

std::optional<std::string> fastDecoderRefusal(PipelineEngine &engine, const std::filesystem::path &base,
                                              const std::filesystem::path &mvc) {
  const auto fast = engine.findTool(kFastStreamDecoder);
  if (!fast)
    return std::string("not found");
  tools::ProcessLaunch launch;
  launch.executable = *fast;
  // One thread: the check decodes only a few pairs.
  launch.arguments = {"--check", "--threads", "1", "--views", base.string(), mvc.string()};
  launch.standardOutput = tools::StreamMode::discard;
  auto process = engine.createCurrentProcess(std::move(launch));
  tools::LastLines lastError(1);
  tools::ExitStatus status;
  try {
    status = tools::runAndStreamLines(*process, {}, [&lastError](std::string_view line) {
      if (!line.empty())
        lastError.add(line);
    });
  } catch (const tools::LaunchError &error) {
    return std::string("it could not be started: ") + error.what();
  }
  if (engine.isCancelled() || status.success())
    return std::nullopt;
  // Its last line says why, after the program's name.
  std::string reason = lastError.joined();
  if (const std::string prefix = std::string(kFastStreamDecoder) + ": "; reason.starts_with(prefix))
    reason.erase(0, prefix.size());
  if (reason.starts_with("cannot decode this stream: "))
    reason.erase(0, std::string_view("cannot decode this stream: ").size());
  if (reason.empty())
    reason = status.signalled ? "ended by signal " + std::to_string(status.terminationStatus)
                              : "exit status " + std::to_string(status.terminationStatus);
  return reason;
}

} // namespace kestrova::pipeline
