#pragma once

#include "MovWriter.h"
#include "NalUnit.h"
#include "PartialFile.h"

#include <cstdint>
#include <fstream>
#include <span>
#include <string>

namespace kestrova::mvhevc {

/// Writes one chunk of a film: the MV-HEVC stream as Annex B, the parameter sets in front, and
/// beside it (OUTPUT + ".frames") the record a joiner checks: `view WIDTH HEIGHT RATE-NUM RATE-DEN`,
/// one line per access unit in decoding order, `bytes sync presentation-index disposable nal-type
/// independent`, then `frames N`. Both files appear under their final
/// names only on finish(), the record last, so a record means a whole chunk.
class ChunkWriter {
public:
  /// Opens both files under temporary names. Throws OutputError when they cannot be written.
  ChunkWriter(const std::string &output, int width, int height, int rateNum, int rateDen);

  void writeHeaders(std::span<const NalBytes> nals);
  void writeSample(std::span<const NalBytes> nals, const VideoSampleInfo &info);
  /// Checks that `frames` access units were written, flushes and commits both files.
  void finish(std::int64_t frames);

private:
  std::uint64_t writeNals(std::span<const NalBytes> nals);

  PartialFile stream_;
  PartialFile record_;
  std::ofstream streamOut_;
  std::ofstream recordOut_;
  std::int64_t samples_ = 0;
};

} // namespace kestrova::mvhevc
