#include "MultiviewPackager.h"

#include "SliceHeader.h"

namespace kestrova::mvhevc {
namespace {

const NalBytes &find(std::span<const NalBytes> nals, NalType type, std::uint8_t layerId, const char *what) {
  for (const auto &nal : nals) {
    if (nalTypeOf(nal) == static_cast<std::uint8_t>(type) && layerIdOf(nal) == layerId) {
      return nal;
    }
  }
  throw StructureError(std::string("the encoder wrote no ") + what + " for layer " + std::to_string(layerId));
}

} // namespace

MultiviewPackager::MultiviewPackager(std::span<const NalBytes> headers) {
  vps_ = find(headers, NalType::vps, 0, "video parameter set");
  sei_ = referenceDisplaysSei();
  for (std::uint8_t id = 0; id < 2; ++id) {
    auto &layer = layers_[id];
    const auto &sps = find(headers, NalType::sps, id, "sequence parameter set");
    const auto &pps = find(headers, NalType::pps, id, "picture parameter set");
    layer.sps = parseSps(sps, id == 0 ? nullptr : &layers_[0].sps);
    layer.pps = parsePps(pps);
    layer.spsNal = sps;
    layer.ppsNal =
        layer.pps.numExtraSliceHeaderBits == 0 ? pps : rewrittenPps(pps, id, layer.pps.ppsId, layer.pps.spsId);
  }
}

MergedAccessUnit MultiviewPackager::package(const CodedPicture &picture) const {
  MergedAccessUnit unit;
  unit.info.presentationIndex = picture.pts;
  bool baseSeen = false;
  for (const auto &nal : picture.nals) {
    const auto type = nalTypeOf(nal);
    const auto layerId = layerIdOf(nal);
    if (!isSlice(type)) {
      continue; // parameter sets live in the sample entry; x265's multiview messages are replaced
    }
    if (layerId > 1) {
      throw StructureError("the encoder wrote a third layer");
    }
    if (layerId == 0 && !baseSeen) {
      baseSeen = true;
      unit.info.nalType = type;
      unit.info.sync = isIrap(type);
      unit.info.independent = isIrap(type);
      unit.info.disposable = isNonReference(type);
      if (isIrap(type)) {
        unit.nals.push_back(sei_);
      }
    }
    const auto &layer = layers_[layerId];
    unit.nals.push_back(layer.pps.numExtraSliceHeaderBits == 0
                            ? nal
                            : withoutExtraSliceHeaderBits(nal, layer.sps, layer.pps, InterLayerSignal::none));
  }
  if (!baseSeen) {
    throw StructureError("an access unit without a base layer picture at display index " + std::to_string(picture.pts));
  }
  return unit;
}

void MultiviewPackager::describe(VideoTrackSetup &setup) const {
  setup.baseSps = layers_[0].sps;
  setup.vps = vps_;
  setup.baseSps0 = layers_[0].spsNal;
  setup.basePps = layers_[0].ppsNal;
  setup.referenceDisplays = sei_;
  setup.layerOneSps = layers_[1].spsNal;
  setup.layerOnePps = layers_[1].ppsNal;
}

} // namespace kestrova::mvhevc
