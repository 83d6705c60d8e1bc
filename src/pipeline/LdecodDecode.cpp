#include "pipeline/LdecodDecode.h"

#include "core/Errors.h"
#include "pipeline/PipelineEngine.h"
#include "tools/Process.h"

#include <algorithm>
#include <cmath>

namespace kestrova::pipeline {
namespace fs = std::filesystem;

std::vector<std::string> ldecodArguments(const std::string &inputFile) {
  return {"-p", "InputFile=" + inputFile, "-p", "OutputFile=output.yuv", "-p", "DecodeAllLayers=1"};
}

std::string decoderInputName(const fs::path &stream, const fs::path &workDirectory) {
  const fs::path absolute = fs::absolute(stream);
  if (absolute.parent_path() == fs::absolute(workDirectory))
    return absolute.filename().string();
  return absolute.string();
}

std::int64_t estimatedDecodedFrames(double seconds, std::int64_t frameRateNum, std::int64_t frameRateDen) {
  if (frameRateDen <= 0 || frameRateNum <= 0 || !(seconds > 0))
    return 1;
  double perView = seconds * static_cast<double>(frameRateNum) / static_cast<double>(frameRateDen);
  // A nonsense duration must not overflow the count.
  double both = std::min(2.0 * std::round(perView), 9.0e18);
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(both));
}

void decodeWithLdecod(PipelineEngine &engine, const fs::path &interleavedStream, const fs::path &workDirectory,
                      std::int64_t estimatedFrames, const ProgressReport &progress) {
  auto ldecod = engine.findTool("ldecod");
  if (!ldecod)
    throw ConversionError::toolNotFound(
        "ldecod (the JM decoder) not found: build it with scripts/build-tools, or put it into the "
        "tools folder (share/kestrova/tools)");
  engine.verbose("Running ldecod...");

  tools::ProcessLaunch launch;
  launch.executable = *ldecod;
  launch.arguments = ldecodArguments(decoderInputName(interleavedStream, workDirectory));
  launch.workingDirectory = workDirectory;
  auto process = engine.createCurrentProcess(std::move(launch));

  LdecodFrameParser frames(estimatedFrames, 0.5, 0.7, ConversionStage::decoding, progress, engine.onLog);
  LdecodMessageCollector messages(engine.onLog);
  auto status = tools::runAndStreamLines(
      *process, [&frames](std::string_view line) { frames.onLine(line); },
      [&messages](std::string_view line) { messages.onLine(line); });

  if (auto tail = messages.kept().joined(10); !tail.empty())
    engine.verbose(tail);
  if (!status.success())
    throw ConversionError::decodingFailed("ldecod exited with code " + std::to_string(status.terminationStatus));
}

} // namespace kestrova::pipeline
