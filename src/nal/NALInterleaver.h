#pragma once

#include "core/Log.h"
#include "nal/StreamReader.h"

#include <cstdint>
#include <filesystem>
#include <stop_token>

namespace kestrova::nal {

/// Merges the base view (.264, access units opened by delimiters of type 9)
/// and the MVC view (.mvc, opened by type 24) into one Annex B stream in
/// decoding order: B1 M1 B2 M2 ..., each unit without its delimiter. The JM
/// decoder reads both views from that one stream. Units that a demuxer wrote
/// ahead of the delimiter of the access unit they belong to are moved into
/// it (see UnitOrder), so pairs follow what units belong to, not where the
/// delimiters fall.
class NALInterleaver {
public:
  static constexpr std::uint8_t kBaseDelimiterType = 9;
  static constexpr std::uint8_t kMvcDelimiterType = 24;
  /// Pairs between two progress lines.
  static constexpr std::int64_t kBatchSize = 500;
  /// Unmatched units at the end of the longer stream that are dropped quietly.
  static constexpr std::int64_t kTolerance = 5;

  explicit NALInterleaver(ReaderLimits limits = {}) : limits_(limits) {}

  /// Writes the merged stream to `output` (a new file, or an existing file
  /// or FIFO written in place). Lines "[NALInterleaver] ..." go to `onLog`.
  ///
  /// Throws InterleaveError::fileNotFound (before the output is touched) when
  /// an input is missing, InterleaveError::accessUnitCountMismatch when one
  /// stream has more than kTolerance units left over (what was written stays),
  /// InterleaveError::readError for unreadable input, FileAccessError when a
  /// file cannot be opened. A stop requested on `stop` (tested once per pair)
  /// and a failed write (a decoder that closed the FIFO) end the run quietly
  /// with a whole number of pairs in the output, as far as it was written.
  void interleave(const std::filesystem::path &base, const std::filesystem::path &mvc,
                  const std::filesystem::path &output, const LogFn &onLog = {}, std::stop_token stop = {}) const;

private:
  ReaderLimits limits_;
};

} // namespace kestrova::nal
