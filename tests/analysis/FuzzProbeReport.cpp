// Any bytes as an ffprobe report: the readers must never crash, hang or
// throw anything but the JSON parser's error.
#include "analysis/ProbeReport.h"
#include "analysis/VideoTracks.h"

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  kestrova::analysis::readProbeReport(text, "/fuzz/input.m2ts", [](const std::string &) {});
  try {
    kestrova::analysis::readVideoTracks(text);
  } catch (const nlohmann::json::exception &) {
  }
  return 0;
}
