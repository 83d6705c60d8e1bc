#include "StreamChecker.h"

#include "BoxTree.h"

#include "Bitstream.h"
#include "NalUnit.h"
#include "ParameterSets.h"
#include "SliceHeader.h"

#include <bit>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>

namespace kestrova::mvhevc::test {
namespace {

// profile_tier_level() of one sub-layer; with `profilePresent` false only the level.
Ptl readPtl(BitReader &r, bool profilePresent) {
  Ptl ptl;
  if (profilePresent) {
    r.bits(2); // general_profile_space
    ptl.highTier = r.flag();
    ptl.profile = r.bits(5);
    r.skip(32 + 4 + 43 + 1); // compatibility flags, source flags, constraint flags
  }
  ptl.level = r.bits(8);
  return ptl;
}

struct VpsFacts {
  std::vector<Ptl> extension;
  bool defaultRefLayersActive = false;
};

VpsFacts parseVps(const NalBytes &nal) {
  const auto rbsp = rbspOf(nal);
  BitReader r(rbsp);
  VpsFacts facts;
  r.bits(4);
  const bool baseInternal = r.flag();
  r.bits(1);
  const auto maxLayersMinus1 = r.bits(6);
  if (r.bits(3) != 0) {
    throw std::runtime_error("a VPS with temporal sub-layers");
  }
  r.bits(1 + 16);
  readPtl(r, true);
  r.bits(1); // vps_sub_layer_ordering_info_present_flag: one sub-layer either way
  r.ue();
  r.ue();
  r.ue();
  const auto maxLayerId = r.bits(6);
  const auto layerSets = r.ue();
  r.skip(std::size_t{layerSets} * (maxLayerId + 1));
  if (r.flag()) {
    throw std::runtime_error("VPS timing information is not followed");
  }
  if (!r.flag()) {
    return facts; // no extension
  }
  while (r.position() % 8 != 0) {
    r.bits(1);
  }
  if (maxLayersMinus1 > 0 && baseInternal) {
    readPtl(r, false);
  }
  const bool splitting = r.flag();
  const auto mask = r.bits(16);
  const auto scalabilityTypes = static_cast<unsigned>(std::popcount(mask));
  std::vector<unsigned> dimensionLengths;
  for (unsigned j = 0; j + (splitting ? 1 : 0) < scalabilityTypes; ++j) {
    dimensionLengths.push_back(r.bits(3) + 1);
  }
  const bool nuhLayerIdPresent = r.flag();
  for (std::uint32_t i = 1; i <= maxLayersMinus1; ++i) {
    if (nuhLayerIdPresent) {
      r.bits(6);
    }
    if (!splitting) {
      for (const auto length : dimensionLengths) {
        r.bits(length);
      }
    }
  }
  const auto viewIdLength = r.bits(4);
  if (viewIdLength > 0) {
    r.skip(std::size_t{viewIdLength} * (maxLayersMinus1 + 1));
  }
  std::vector<std::vector<bool>> dependsOn(maxLayersMinus1 + 1);
  for (std::uint32_t i = 1; i <= maxLayersMinus1; ++i) {
    for (std::uint32_t j = 0; j < i; ++j) {
      dependsOn[i].push_back(r.flag());
    }
  }
  if (r.flag()) { // vps_sub_layers_max_minus1_present_flag
    r.skip(3 * std::size_t{maxLayersMinus1 + 1});
  }
  if (r.flag()) { // max_tid_ref_present_flag
    for (std::uint32_t i = 0; i < maxLayersMinus1; ++i) {
      for (std::uint32_t j = i + 1; j <= maxLayersMinus1; ++j) {
        if (dependsOn[j][i]) {
          r.bits(3);
        }
      }
    }
  }
  facts.defaultRefLayersActive = r.flag();
  const auto ptlCount = r.ue() + 1;
  for (std::uint32_t i = baseInternal ? 2 : 1; i < ptlCount; ++i) {
    facts.extension.push_back(readPtl(r, r.flag()));
  }
  return facts;
}

// The NAL units of one parameter set array record: (first byte, units).
std::vector<std::pair<std::uint8_t, std::vector<NalBytes>>> arrays(const std::vector<std::uint8_t> &record,
                                                                   std::size_t header) {
  std::vector<std::pair<std::uint8_t, std::vector<NalBytes>>> result;
  std::size_t at = header;
  for (auto n = readBig(record, header - 1, 1); n > 0; --n) {
    auto &array = result.emplace_back(static_cast<std::uint8_t>(readBig(record, at, 1)), std::vector<NalBytes>{});
    const auto count = readBig(record, at + 1, 2);
    at += 3;
    for (std::uint64_t i = 0; i < count; ++i) {
      const auto size = readBig(record, at, 2);
      array.second.emplace_back(record.begin() + static_cast<std::ptrdiff_t>(at + 2),
                                record.begin() + static_cast<std::ptrdiff_t>(at + 2 + size));
      at += 2 + size;
    }
  }
  return result;
}

const NalBytes &unit(const std::vector<std::pair<std::uint8_t, std::vector<NalBytes>>> &arrays, NalType type) {
  for (const auto &[first, nals] : arrays) {
    if ((first & 0x3F) == static_cast<std::uint8_t>(type) && !nals.empty()) {
      return nals.front();
    }
  }
  throw std::runtime_error("a parameter set missing from the sample entry");
}

struct Track {
  std::vector<const Box *> boxes;
  const Box *find(const std::string &suffix) const {
    for (const auto *box : boxes) {
      if (box->path.size() >= suffix.size() &&
          box->path.compare(box->path.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return box;
      }
    }
    return nullptr;
  }
};

// Byte offsets and sizes of a track's samples, from its chunk tables.
std::vector<std::pair<std::uint64_t, std::uint64_t>> sampleRanges(const Track &track) {
  const auto *stsz = track.find("/stsz");
  const auto *stsc = track.find("/stsc");
  const auto *stco = track.find("/stco");
  const auto *co64 = track.find("/co64");
  if (stsz == nullptr || stsc == nullptr || (stco == nullptr && co64 == nullptr)) {
    throw std::runtime_error("a video track without sample tables");
  }
  const auto fixed = readBig(stsz->payload, 4, 4);
  const auto count = readBig(stsz->payload, 8, 4);
  const auto *offsets = co64 != nullptr ? co64 : stco;
  const std::size_t width = co64 != nullptr ? 8 : 4;
  const auto chunks = readBig(offsets->payload, 4, 4);
  const auto runs = readBig(stsc->payload, 4, 4);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
  std::uint64_t sample = 0;
  for (std::uint64_t chunk = 1; chunk <= chunks && sample < count; ++chunk) {
    std::uint64_t perChunk = 0;
    for (std::uint64_t run = 0; run < runs; ++run) {
      if (readBig(stsc->payload, 8 + 12 * run, 4) <= chunk) {
        perChunk = readBig(stsc->payload, 12 + 12 * run, 4);
      }
    }
    auto at = readBig(offsets->payload, 8 + width * (chunk - 1), width);
    for (std::uint64_t i = 0; i < perChunk && sample < count; ++i, ++sample) {
      const auto size = fixed != 0 ? fixed : readBig(stsz->payload, 12 + 4 * sample, 4);
      ranges.emplace_back(at, size);
      at += size;
    }
  }
  return ranges;
}

TrackTiming timing(const Track &track, std::uint64_t movieTimescale) {
  TrackTiming t;
  t.video = track.find("/vmhd") != nullptr;
  const auto *tkhd = track.find("/tkhd");
  const auto *mdhd = track.find("/mdhd");
  if (tkhd == nullptr || mdhd == nullptr) {
    throw std::runtime_error("a track without headers");
  }
  t.trackSeconds = static_cast<double>(readBig(tkhd->payload, 20, 4)) / static_cast<double>(movieTimescale);
  if (const auto *elst = track.find("/elst"); elst != nullptr && readBig(elst->payload, 4, 4) > 0) {
    t.editMediaTime = static_cast<std::int32_t>(readBig(elst->payload, 12, 4));
  }
  if (const auto *hdlr = track.find("/hdlr"); hdlr != nullptr && hdlr->payload.size() >= 12) {
    t.handler.assign(hdlr->payload.begin() + 8, hdlr->payload.begin() + 12);
  }
  t.flags = static_cast<std::uint32_t>(readBig(tkhd->payload, 1, 3));
  t.id = static_cast<std::uint32_t>(readBig(tkhd->payload, 12, 4));
  t.alternateGroup = static_cast<std::uint32_t>(readBig(tkhd->payload, 34, 2));
  if (const auto *tref = track.find("/tref");
      tref != nullptr && tref->payload.size() >= 12 &&
      std::string(tref->payload.begin() + 4, tref->payload.begin() + 8) == "chap") {
    t.chapterTrack = static_cast<std::uint32_t>(readBig(tref->payload, 8, 4));
  }
  return t;
}

std::vector<Track> tracksOf(const std::vector<Box> &boxes) {
  std::vector<Track> tracks;
  for (const auto &box : boxes) {
    if (box.path == "moov/trak") {
      tracks.emplace_back();
    } else if (box.path.rfind("moov/trak/", 0) == 0) {
      tracks.back().boxes.push_back(&box);
    }
  }
  return tracks;
}

std::uint64_t movieTimescale(const std::vector<Box> &boxes) {
  const auto *mvhd = findBox(boxes, "moov/mvhd");
  if (mvhd == nullptr) {
    throw std::runtime_error("no movie header");
  }
  return readBig(mvhd->payload, 12, 4);
}

// Every sample's NAL units: parameter sets, layers, and each slice header parsed to its end.
void checkSamples(const std::vector<std::uint8_t> &data,
                  const std::vector<std::pair<std::uint64_t, std::uint64_t>> &ranges, const SpsInfo (&sps)[2],
                  const PpsInfo (&pps)[2], InterLayerSignal signal, StreamFacts &facts) {
  for (const auto &[offset, size] : ranges) {
    ++facts.samples;
    bool parameterSets = false;
    bool layers[2] = {};
    bool irap = false;
    for (std::uint64_t at = offset; at + 4 <= offset + size;) {
      const auto length = (std::uint64_t{data.at(at)} << 24) | (std::uint64_t{data.at(at + 1)} << 16) |
                          (std::uint64_t{data.at(at + 2)} << 8) | data.at(at + 3);
      if (at + 4 + length > offset + size || length < 2) {
        throw std::runtime_error("a NAL unit overruns its sample");
      }
      const std::span nal(data.data() + at + 4, length);
      at += 4 + length;
      const auto type = nalTypeOf(nal);
      const auto layer = layerIdOf(nal);
      if (type >= static_cast<std::uint8_t>(NalType::vps) && type <= static_cast<std::uint8_t>(NalType::pps)) {
        parameterSets = true;
      }
      if (!isSlice(type)) {
        continue;
      }
      if (layer > 1) {
        throw std::runtime_error("a slice of a third layer");
      }
      layers[layer] = true;
      irap = irap || (layer == 0 && isIrap(type));
      if (layer == 1) {
        const auto rbsp = rbspOf(nal);
        const auto header = parseSliceHeader(rbsp, type, 1, sps[1], pps[1], signal);
        ++facts.layerOneSlices;
        bool fromBase = signal == InterLayerSignal::none;
        if (!fromBase) {
          BitReader flag(rbsp);
          flag.skip(header.interLayerAt);
          fromBase = flag.flag();
        }
        facts.layerOneSlicesFromBase += fromBase ? 1 : 0;
        if (irap) {
          ++facts.layerOneIrapSlices;
          facts.layerOneIrapInterSlices += header.sliceType != 2 ? 1 : 0;
        }
      } else {
        parseSliceHeader(rbspOf(nal), type, 0, sps[0], pps[0], signal);
      }
    }
    facts.samplesWithParameterSets += parameterSets ? 1 : 0;
    facts.samplesWithoutBothLayers += layers[0] && layers[1] ? 0 : 1;
  }
}

} // namespace

std::vector<TrackTiming> trackTimings(const std::vector<Box> &boxes) {
  std::vector<TrackTiming> result;
  for (const auto &track : tracksOf(boxes)) {
    result.push_back(timing(track, movieTimescale(boxes)));
  }
  return result;
}

StreamFacts checkStream(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto boxes = readBoxTree(file);
  StreamFacts facts;
  const auto tracks = tracksOf(boxes);
  facts.movieSeconds = static_cast<double>(readBig(findBox(boxes, "moov/mvhd")->payload, 16, 4)) /
                       static_cast<double>(movieTimescale(boxes));
  facts.tracks = trackTimings(boxes);
  const Track *video = nullptr;
  for (const auto &track : tracks) {
    if (track.find("/hvc1") != nullptr) {
      video = &track;
      break;
    }
  }
  if (video == nullptr) {
    throw std::runtime_error("no hvc1 video track");
  }

  const auto *hvcC = video->find("/hvc1/hvcC");
  const auto *lhvC = video->find("/hvc1/lhvC");
  if (hvcC == nullptr || lhvC == nullptr) {
    throw std::runtime_error("the sample entry lacks hvcC or lhvC");
  }
  const auto baseArrays = arrays(hvcC->payload, 23);
  const auto layerArrays = arrays(lhvC->payload, 6);
  for (const auto &[first, nals] : baseArrays) {
    facts.hvcCArrays.push_back(first);
  }
  for (const auto &[first, nals] : layerArrays) {
    facts.lhvCArrays.push_back(first);
  }
  BitReader record(std::span(hvcC->payload).subspan(1));
  facts.record = readPtl(record, true);

  const auto vps = parseVps(unit(baseArrays, NalType::vps));
  facts.vpsExtension = vps.extension;
  SpsInfo sps[2];
  PpsInfo pps[2];
  const auto &sps0 = unit(baseArrays, NalType::sps);
  sps[0] = parseSps(sps0);
  const auto sps0Rbsp = rbspOf(sps0);
  BitReader spsReader(sps0Rbsp);
  spsReader.bits(8);
  facts.baseSps = readPtl(spsReader, true);
  sps[1] = parseSps(unit(layerArrays, NalType::sps), &sps[0]);
  facts.layerOneSpsExtensionForm = sps[1].multiLayerExtension;
  pps[0] = parsePps(unit(baseArrays, NalType::pps));
  pps[1] = parsePps(unit(layerArrays, NalType::pps));
  for (int layer = 0; layer < 2; ++layer) {
    facts.extraSliceHeaderBits[layer] = pps[layer].numExtraSliceHeaderBits;
  }
  const auto signal = vps.defaultRefLayersActive ? InterLayerSignal::none : InterLayerSignal::perSlice;

  checkSamples(data, sampleRanges(*video), sps, pps, signal, facts);
  return facts;
}

} // namespace kestrova::mvhevc::test
