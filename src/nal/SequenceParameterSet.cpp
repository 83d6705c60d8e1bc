#include "nal/SequenceParameterSet.h"

#include "nal/BitReader.h"

namespace kestrova::nal {

namespace {

void skipScalingList(BitReader &reader, int size) {
  std::int32_t last = 8, next = 8;
  for (int j = 0; j < size; ++j) {
    if (next != 0)
      next = (last + reader.se() + 256) % 256;
    last = next == 0 ? last : next;
  }
}

bool hasChromaFields(std::uint32_t profile) {
  switch (profile) {
  case 100:
  case 110:
  case 122:
  case 244:
  case 44:
  case 83:
  case 86:
  case 118:
  case 128:
  case 138:
  case 139:
  case 134:
  case 135:
    return true;
  default:
    return false;
  }
}

// The chroma format, bit depths and scaling lists of the high profiles;
// false for values out of range.
bool readChromaFields(BitReader &r, SequenceParameters &format) {
  format.chromaFormat = static_cast<int>(r.ue());
  if (format.chromaFormat > 3)
    return false;
  if (format.chromaFormat == 3)
    format.separateColourPlanes = r.bit() != 0;
  format.bitDepthLuma = 8 + static_cast<int>(r.ue());
  format.bitDepthChroma = 8 + static_cast<int>(r.ue());
  if (format.bitDepthLuma > 14 || format.bitDepthChroma > 14)
    return false;
  r.bit(); // qpprime_y_zero_transform_bypass_flag
  if (r.bit() != 0) {
    const int lists = format.chromaFormat == 3 ? 12 : 8;
    for (int i = 0; i < lists; ++i)
      if (r.bit() != 0)
        skipScalingList(r, i < 6 ? 16 : 64);
  }
  return true;
}

// The frame number's size and how picture order counts are coded; false
// for values out of range.
bool readPictureOrderFields(BitReader &r, SequenceParameters &format) {
  format.frameNumBits = 4 + static_cast<int>(r.ue());
  format.pocType = r.ue();
  if (format.frameNumBits > 16)
    return false;
  if (format.pocType == 0) {
    format.pocLsbBits = 4 + static_cast<int>(r.ue());
    return format.pocLsbBits <= 16;
  }
  if (format.pocType == 1) {
    r.bit();
    r.se();
    r.se();
    const std::uint32_t cycle = r.ue();
    if (cycle > 255)
      return false;
    for (std::uint32_t i = 0; i < cycle; ++i)
      r.se();
    return true;
  }
  return format.pocType == 2;
}

} // namespace

std::size_t SequenceParameters::frameBytes() const {
  const auto w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  const std::size_t lumaSample = bitDepthLuma > 8 ? 2 : 1, chromaSample = bitDepthChroma > 8 ? 2 : 1;
  std::size_t chroma = 0;
  switch (chromaFormat) {
  case 0:
  case 1:
    chroma = 2 * (w / 2) * (h / 2);
    break;
  case 2:
    chroma = 2 * (w / 2) * h;
    break;
  default:
    chroma = 2 * w * h;
    break;
  }
  return w * h * lumaSample + chroma * chromaSample;
}

std::optional<SequenceParameters> parseSequenceParameterSet(std::span<const std::uint8_t> rbsp) {
  BitReader r(rbsp);
  SequenceParameters format;
  const std::uint32_t profile = r.bits(8);
  r.bits(16); // constraint flags and level
  format.id = r.ue();
  if (format.id > 31)
    return std::nullopt;
  if (hasChromaFields(profile) && !readChromaFields(r, format))
    return std::nullopt;
  if (!readPictureOrderFields(r, format))
    return std::nullopt;
  r.ue();  // max_num_ref_frames
  r.bit(); // gaps_in_frame_num_value_allowed_flag
  const std::uint32_t widthInMbs = r.ue() + 1;
  const std::uint32_t heightInMapUnits = r.ue() + 1;
  const std::uint32_t frameMbsOnly = r.bit();
  if (frameMbsOnly == 0)
    r.bit(); // mb_adaptive_frame_field_flag
  r.bit();   // direct_8x8_inference_flag
  std::uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
  if (r.bit() != 0) {
    cropLeft = r.ue();
    cropRight = r.ue();
    cropTop = r.ue();
    cropBottom = r.ue();
  }
  if (r.overrun || widthInMbs > 1024 || heightInMapUnits > 1024)
    return std::nullopt;
  // Crop offsets count in chroma sample units (one luma sample without chroma).
  const int chromaArrayType = format.separateColourPlanes ? 0 : format.chromaFormat;
  const std::uint32_t cropUnitX = chromaArrayType == 1 || chromaArrayType == 2 ? 2 : 1;
  const std::uint32_t cropUnitY = (chromaArrayType == 1 ? 2 : 1) * (2 - frameMbsOnly);
  const std::uint32_t fullWidth = widthInMbs * 16, fullHeight = heightInMapUnits * 16 * (2 - frameMbsOnly);
  if (cropUnitX * (cropLeft + cropRight) >= fullWidth || cropUnitY * (cropTop + cropBottom) >= fullHeight)
    return std::nullopt;
  format.width = static_cast<int>(fullWidth - cropUnitX * (cropLeft + cropRight));
  format.height = static_cast<int>(fullHeight - cropUnitY * (cropTop + cropBottom));
  format.progressive = frameMbsOnly != 0;
  return format;
}

} // namespace kestrova::nal
