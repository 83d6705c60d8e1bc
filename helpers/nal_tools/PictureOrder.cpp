#include "PictureOrder.h"

#include "nal/BitReader.h"
#include "nal/SeiMessages.h"
#include "nal/SequenceParameterSet.h"

#include <algorithm>
#include <map>

namespace kestrova::helpers {

namespace {

constexpr std::uint8_t kSlice = 1, kIdrSlice = 5, kSei = 6, kSequenceSet = 7, kPictureSet = 8;
constexpr std::uint32_t kRecoveryPoint = 6;
// A slice header's first fields fit in this many bytes of any real slice.
constexpr std::size_t kSliceHeaderBytes = 64;

// What the slices and SEI of one access unit say.
struct UnitFacts {
  bool sliceSeen = false;
  bool idr = false;
  bool allIntra = true;
  bool recoveryPoint = false;
  bool reference = false;
  std::uint32_t pocLsb = 0;
  const nal::SequenceParameters *sequence = nullptr;
};

// Whether an SEI unit holds a recovery point from which every picture is right at once.
bool startsRecovery(std::span<const std::uint8_t> payload) {
  const auto rbsp = nal::unescapeRbsp(payload);
  const auto messages = nal::seiMessages(rbsp);
  if (!messages)
    return false;
  return std::any_of(messages->begin(), messages->end(), [](const nal::SeiMessage &message) {
    nal::BitReader bits(message.payload);
    return message.type == kRecoveryPoint && bits.ue() == 0 && !bits.overrun;
  });
}

// Reads the slice header's fields up to the picture order count into `facts`;
// false when the slice cannot be placed.
bool readSlice(std::span<const std::uint8_t> payload, std::uint8_t type, bool firstSlice,
               const std::map<std::uint32_t, std::uint32_t> &pictureSets,
               const std::map<std::uint32_t, nal::SequenceParameters> &sequenceSets, UnitFacts &facts) {
  nal::BitReader bits(payload.first(std::min(payload.size(), kSliceHeaderBytes)));
  bits.ue(); // first_mb_in_slice
  const std::uint32_t sliceType = bits.ue() % 5;
  facts.allIntra = facts.allIntra && (sliceType == 2 || sliceType == 4);
  if (!firstSlice)
    return !bits.overrun;
  const auto pictureSet = pictureSets.find(bits.ue());
  if (pictureSet == pictureSets.end())
    return false;
  const auto sequence = sequenceSets.find(pictureSet->second);
  if (sequence == sequenceSets.end())
    return false;
  const nal::SequenceParameters &sps = sequence->second;
  if (sps.separateColourPlanes)
    bits.bits(2);
  bits.bits(sps.frameNumBits);
  if (!sps.progressive && bits.bit() != 0)
    return false; // a field picture
  if (type == kIdrSlice)
    bits.ue(); // idr_pic_id
  if (sps.pocType == 0)
    facts.pocLsb = bits.bits(sps.pocLsbBits);
  facts.sequence = &sps;
  return !bits.overrun && sps.pocType != 1;
}

// Counts each picture's order over the stream from its POC, as a decoder derives it.
class OrderCounter {
public:
  // The order of the next picture, decoded with `facts`.
  std::int64_t next(const UnitFacts &facts) {
    if (!facts.sliceSeen || facts.sequence == nullptr || facts.sequence->pocType == 2)
      return remember(latest_ + 1);
    const std::int64_t range = std::int64_t{1} << facts.sequence->pocLsbBits;
    if (facts.idr) {
      previousMsb_ = previousLsb_ = 0;
      base_ = latest_ + 1 - facts.pocLsb;
    }
    const auto lsb = static_cast<std::int64_t>(facts.pocLsb);
    std::int64_t msb = previousMsb_;
    if (lsb < previousLsb_ && previousLsb_ - lsb >= range / 2)
      msb += range;
    else if (lsb > previousLsb_ && lsb - previousLsb_ > range / 2)
      msb -= range;
    if (facts.reference) {
      previousMsb_ = msb;
      previousLsb_ = lsb;
    }
    return remember(base_ + msb + lsb);
  }

private:
  std::int64_t remember(std::int64_t order) {
    latest_ = std::max(latest_, order);
    return order;
  }
  std::int64_t latest_ = -1, base_ = 0, previousMsb_ = 0, previousLsb_ = 0;
};

// Marks the key pictures whose leading pictures (those right after them, shown before them) are referred to.
void markReferencedLeading(std::vector<CodedPicture> &pictures) {
  for (std::size_t d = 0; d < pictures.size(); ++d)
    for (std::size_t j = d + 1; pictures[d].key && j < pictures.size() && pictures[j].order < pictures[d].order; ++j)
      pictures[d].leadingReferenced = pictures[d].leadingReferenced || pictures[j].reference;
}

} // namespace

std::optional<std::vector<CodedPicture>> codedPictures(std::span<const std::uint8_t> stream, const StreamScan &scan) {
  std::map<std::uint32_t, nal::SequenceParameters> sequenceSets;
  std::map<std::uint32_t, std::uint32_t> pictureSets; // picture set id -> sequence set id
  std::vector<CodedPicture> pictures;
  OrderCounter counter;
  UnitFacts facts;
  std::size_t unit = 0; // the access unit the NAL units being read belong to
  auto finishUnit = [&] {
    CodedPicture picture;
    picture.reference = facts.reference;
    picture.key = facts.sliceSeen && (facts.idr || (facts.allIntra && facts.recoveryPoint));
    picture.order = counter.next(facts);
    pictures.push_back(picture);
    facts = {};
  };
  for (const NalUnitSpan &nalUnit : nalUnits(stream)) {
    while (unit + 1 < scan.unitOffsets.size() && nalUnit.offset >= scan.unitOffsets[unit + 1]) {
      finishUnit();
      ++unit;
    }
    const auto payload = stream.subspan(nalUnit.header + 1, nalUnit.end - nalUnit.header - 1);
    switch (nalUnit.type) {
    case kSequenceSet:
      if (auto sps = nal::parseSequenceParameterSet(payload))
        sequenceSets[sps->id] = *sps;
      break;
    case kPictureSet: {
      nal::BitReader bits(payload.first(std::min<std::size_t>(payload.size(), 16)));
      const std::uint32_t id = bits.ue(), sequence = bits.ue();
      if (!bits.overrun)
        pictureSets[id] = sequence;
      break;
    }
    case kSei:
      facts.recoveryPoint = facts.recoveryPoint || startsRecovery(payload);
      break;
    case kSlice:
    case kIdrSlice:
      if (scan.unitOffsets.empty() || nalUnit.offset < scan.unitOffsets.front())
        break;
      if (!readSlice(payload, nalUnit.type, !facts.sliceSeen, pictureSets, sequenceSets, facts))
        return std::nullopt;
      facts.idr = facts.idr || nalUnit.type == kIdrSlice;
      facts.reference = facts.reference || (stream[nalUnit.header] & 0x60) != 0;
      facts.sliceSeen = true;
      break;
    default:
      break;
    }
  }
  if (!scan.unitOffsets.empty())
    while (pictures.size() < scan.unitOffsets.size())
      finishUnit();
  markReferencedLeading(pictures);
  return pictures;
}

} // namespace kestrova::helpers
