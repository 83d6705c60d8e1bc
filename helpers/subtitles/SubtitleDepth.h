#pragma once

#include "nal/OffsetMetadata.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kestrova::subtitles {

/// A few pixels in front of the screen, for subtitles without usable depth.
inline constexpr int kDefaultFixedDepth = 4;

/// Where the subtitle depth comes from.
struct DepthRequest {
  std::filesystem::path offsets; ///< the demuxed MVC view carrying the offset tables; empty: none
  std::optional<int> plane;      ///< the offset sequence the track follows; none: sequence 0
  int fixedDepth = kDefaultFixedDepth;
  std::string logPrefix = "subtitles: "; ///< starts each line written to the log
};

/// The subtitle's shift for every display frame, in pixels of a 1920-wide
/// picture (positive: in front of the screen).
class SubtitleDepth {
public:
  /// The shifts of the requested sequence, undefined frames at 0; the fixed
  /// depth for every frame when there is no offset source, no table, no such
  /// sequence, or a defective table. Every reason for the fixed depth, and
  /// each defect, goes to `log`.
  static SubtitleDepth plan(const DepthRequest &request, std::ostream &log);

  /// The shift of display frame `frame` (counted from the stream's first);
  /// 0 past the frames the tables cover.
  int at(std::size_t frame) const;
  bool fixed() const { return fixed_.has_value(); }
  /// 90 kHz time of the first table's first frame, when tables were read.
  std::optional<std::uint64_t> firstTablePts() const { return firstTablePts_; }

private:
  std::vector<nal::DepthOffset> frames_;
  std::optional<int> fixed_;
  std::optional<std::uint64_t> firstTablePts_;
};

} // namespace kestrova::subtitles
