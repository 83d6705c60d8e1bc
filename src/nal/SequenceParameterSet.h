#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kestrova::nal {

/// What a sequence parameter set says: the cropped picture size and the
/// sample layout a decoder writes per picture, and how its slices number and
/// order their pictures.
struct SequenceParameters {
  std::uint32_t id = 0;    ///< seq_parameter_set_id
  int width = 0;           ///< after cropping, as the decoder writes it
  int height = 0;          ///< after cropping
  int chromaFormat = 1;    ///< chroma_format_idc: 0 = 4:0:0, 1 = 4:2:0, 2 = 4:2:2, 3 = 4:4:4
  int bitDepthLuma = 8;    ///< bits per luma sample
  int bitDepthChroma = 8;  ///< bits per chroma sample
  bool progressive = true; ///< frame_mbs_only_flag: no field or MBAFF pictures
  bool separateColourPlanes = false;
  int frameNumBits = 4;      ///< log2_max_frame_num
  std::uint32_t pocType = 0; ///< pic_order_cnt_type
  int pocLsbBits = 4;        ///< log2_max_pic_order_cnt_lsb, for POC type 0

  /// Bytes of one picture in the decoder's output file. The decoder writes
  /// 4:0:0 with blank 4:2:0 chroma planes, and samples above 8 bits as two bytes.
  std::size_t frameBytes() const;
};

/// Reads a sequence parameter set. `rbsp` is the NAL unit after its one-byte
/// header, emulation-prevention bytes still in place. No value when the
/// bits end early or a field is out of range.
std::optional<SequenceParameters> parseSequenceParameterSet(std::span<const std::uint8_t> rbsp);

} // namespace kestrova::nal
