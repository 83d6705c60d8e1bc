#include "SubtitleDepth.h"

#include <exception>

namespace kestrova::subtitles {

SubtitleDepth SubtitleDepth::plan(const DepthRequest &request, std::ostream &log) {
  SubtitleDepth depth;
  const auto fixed = [&](const std::string &why) {
    log << request.logPrefix << why << "; the subtitles stay " << request.fixedDepth
        << " px (of 1920) in front of the screen\n";
    depth.fixed_ = request.fixedDepth;
    depth.frames_.clear();
    return depth;
  };
  if (request.offsets.empty()) {
    return fixed("no offset metadata given");
  }
  nal::OffsetMetadata metadata;
  try {
    metadata = nal::readOffsetMetadata(request.offsets);
  } catch (const std::exception &error) {
    return fixed(std::string("cannot read the offset metadata: ") + error.what());
  }
  if (metadata.tables.empty()) {
    return fixed(request.offsets.string() + " carries no offset tables");
  }
  depth.firstTablePts_ = metadata.tables.front().pts;
  const int plane = request.plane.value_or(0);
  if (!request.plane) {
    log << request.logPrefix << "no offset sequence named; the subtitles follow sequence 0\n";
  }
  for (const auto &defect : metadata.defects) {
    log << request.logPrefix << "offset metadata at byte " << defect.position << ": " << defect.what << '\n';
  }
  bool defective = !metadata.defects.empty();
  for (const auto &table : metadata.tables) {
    if (table.pictures != 0 && table.frames < table.pictures) {
      log << request.logPrefix << "the offset table at byte " << table.position << " covers " << table.frames
          << " of the " << table.pictures << " pictures of its GOP\n";
      defective = true;
    }
  }
  if (defective) {
    return fixed("the offset metadata is defective");
  }
  auto frames = plane >= 0 ? metadata.frames(static_cast<std::size_t>(plane)) : std::nullopt;
  if (!frames) {
    return fixed("offset sequence " + std::to_string(plane) + " is not in every table (the stream declares " +
                 std::to_string(metadata.sequenceCount()) + ")");
  }
  depth.frames_ = std::move(*frames);
  return depth;
}

int SubtitleDepth::at(std::size_t frame) const {
  if (fixed_) {
    return *fixed_;
  }
  return frame < frames_.size() ? frames_[frame].value_or(0) : 0;
}

} // namespace kestrova::subtitles
