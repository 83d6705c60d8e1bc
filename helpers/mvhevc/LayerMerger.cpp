#include "LayerMerger.h"

#include <algorithm>

namespace kestrova::mvhevc {
namespace {

const NalBytes &find(const CodedPicture &picture, NalType type, const char *what) {
  const auto it = std::find_if(picture.nals.begin(), picture.nals.end(), [type](const NalBytes &nal) {
    return nalTypeOf(nal) == static_cast<std::uint8_t>(type);
  });
  if (it == picture.nals.end()) {
    throw StructureError(std::string("the first picture of a view has no ") + what);
  }
  return *it;
}

std::uint8_t firstSliceType(const CodedPicture &picture) {
  for (const auto &nal : picture.nals) {
    if (isSlice(nalTypeOf(nal))) {
      return nalTypeOf(nal);
    }
  }
  throw StructureError("a coded picture without slices");
}

} // namespace

void LayerMerger::start(const CodedPicture &left, const CodedPicture &right) {
  Layers layers;
  const auto &leftSps = find(left, NalType::sps, "sequence parameter set");
  const auto &rightSps = find(right, NalType::sps, "sequence parameter set");
  const auto &rightPps = find(right, NalType::pps, "picture parameter set");
  layers.baseSps = parseSps(leftSps);
  const auto rightInfo = parseSps(rightSps);
  if (rightInfo.width != layers.baseSps.width || rightInfo.height != layers.baseSps.height) {
    throw StructureError("the two views were encoded at different sizes");
  }
  const auto ppsInfo = parsePps(rightPps);
  layers.rewriter.emplace(rightInfo, ppsInfo, 1);
  layers.vps = multiviewVps(layers.baseSps);
  layers.sps0 = leftSps;
  layers.pps0 = find(left, NalType::pps, "picture parameter set");
  layers.sei = referenceDisplaysSei();
  layers.sps1 = layerOneSps(rightSps, 1);
  layers.pps1 = rewrittenPps(rightPps, 1, 1, 1);
  layers_ = std::move(layers);
}

MergedAccessUnit LayerMerger::merge(const CodedPicture &left, const CodedPicture &right) {
  if (left.pts != right.pts) {
    throw StructureError("the views' encodes differ in picture order at display index " + std::to_string(left.pts));
  }
  const auto type = firstSliceType(left);
  if (type != firstSliceType(right)) {
    throw StructureError("the views' encodes differ in picture type at display index " + std::to_string(left.pts));
  }
  if (!layers_) {
    if (!isIdr(type)) {
      throw StructureError("the stream does not start with an IDR picture");
    }
    start(left, right);
  }
  auto &layers = *layers_;
  MergedAccessUnit unit;
  unit.info.presentationIndex = left.pts;
  unit.info.sync = isIrap(type);
  unit.info.independent = isIrap(type);
  unit.info.disposable = isNonReference(type);
  unit.info.nalType = type;

  // Parameter sets live only in the sample entry, which says its arrays are complete.
  bool wroteSei = false;
  for (const auto &nal : left.nals) {
    const auto nalType = nalTypeOf(nal);
    if (!isSlice(nalType)) {
      continue;
    }
    if (isIrap(nalType) && !wroteSei) {
      unit.nals.push_back(layers.sei);
      wroteSei = true;
    }
    unit.nals.push_back(nal);
  }
  for (const auto &nal : right.nals) {
    if (isSlice(nalTypeOf(nal))) {
      unit.nals.push_back(layers.rewriter->rewrite(nal));
    }
  }
  return unit;
}

void LayerMerger::describe(VideoTrackSetup &setup) const {
  if (!layers_) {
    throw StructureError("no pictures were encoded");
  }
  setup.baseSps = layers_->baseSps;
  setup.vps = layers_->vps;
  setup.baseSps0 = layers_->sps0;
  setup.basePps = layers_->pps0;
  setup.referenceDisplays = layers_->sei;
  setup.layerOneSps = layers_->sps1;
  setup.layerOnePps = layers_->pps1;
}

} // namespace kestrova::mvhevc
