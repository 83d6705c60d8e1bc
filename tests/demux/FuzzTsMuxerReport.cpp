// Any bytes as tsMuxeR's information report: the parser must never crash.
#include "demux/DemuxMeta.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  auto sub = kestrova::demux::parseInformationReport(std::string(reinterpret_cast<const char *>(data), size));
  kestrova::demux::singleTrackMeta("/fuzz/in.mkv", sub, std::nullopt);
  return 0;
}
