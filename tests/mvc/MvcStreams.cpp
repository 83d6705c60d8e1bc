#include "MvcStreams.h"

#include <cstdint>
#include <vector>

namespace kestrova::test {
namespace {

/// Writes RBSP bits, most significant first.
class BitWriter {
public:
  void bit(int value) {
    if (used_ == 0)
      bytes_.push_back(0);
    if (value)
      bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (0x80 >> used_));
    used_ = (used_ + 1) % 8;
  }
  void bits(std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i)
      bit(static_cast<int>((value >> i) & 1));
  }
  /// Unsigned exponential-Golomb code.
  void ue(std::uint32_t value) {
    const std::uint32_t coded = value + 1;
    int length = 0;
    while ((coded >> length) > 1)
      ++length;
    bits(0, length);
    bits(coded, length + 1);
  }
  /// The stop bit and zero padding, then emulation prevention.
  std::string finish() {
    bit(1);
    while (used_ != 0)
      bit(0);
    std::string escaped;
    int zeros = 0;
    for (std::uint8_t byte : bytes_) {
      if (zeros >= 2 && byte <= 3) {
        escaped += '\x03';
        zeros = 0;
      }
      escaped += static_cast<char>(byte);
      zeros = byte == 0 ? zeros + 1 : 0;
    }
    return escaped;
  }

private:
  std::vector<std::uint8_t> bytes_;
  int used_ = 0;
};

std::string nal(char header, const std::string &payload) {
  return std::string("\0\0\0\1", 4) + header + payload;
}

std::string viewStream(int frames, int width, int height, int idrInterval, bool mvc) {
  std::string stream;
  for (int frame = 0; frame < frames; ++frame) {
    const bool idr = frame == 0 || (idrInterval > 0 && frame % idrInterval == 0);
    stream += nal(mvc ? 0x18 : 0x09, "\x10");
    if (idr)
      stream += mvc ? nal(0x6F, "W" + std::to_string(width) + "H" + std::to_string(height))
                    : sequenceParameterSet(width, height);
    stream += nal(mvc ? 0x74 : (idr ? 0x65 : 0x41), "F" + std::to_string(frame));
  }
  return stream;
}

} // namespace

std::string sequenceParameterSet(int width, int height) {
  const auto widthInMbs = static_cast<std::uint32_t>((width + 15) / 16);
  const auto heightInMbs = static_cast<std::uint32_t>((height + 15) / 16);
  // 4:2:0 frames crop in units of two samples.
  const auto cropRight = (widthInMbs * 16 - static_cast<std::uint32_t>(width)) / 2;
  const auto cropBottom = (heightInMbs * 16 - static_cast<std::uint32_t>(height)) / 2;
  BitWriter w;
  w.bits(100, 8); // profile_idc: High
  w.bits(0, 8);   // constraint flags
  w.bits(40, 8);  // level 4.0
  w.ue(0);        // seq_parameter_set_id
  w.ue(1);        // chroma_format_idc 4:2:0
  w.ue(0);        // bit_depth_luma_minus8
  w.ue(0);        // bit_depth_chroma_minus8
  w.bit(0);       // qpprime_y_zero_transform_bypass_flag
  w.bit(0);       // seq_scaling_matrix_present_flag
  w.ue(0);        // log2_max_frame_num_minus4
  w.ue(0);        // pic_order_cnt_type
  w.ue(0);        // log2_max_pic_order_cnt_lsb_minus4
  w.ue(1);        // max_num_ref_frames
  w.bit(0);       // gaps_in_frame_num_value_allowed_flag
  w.ue(widthInMbs - 1);
  w.ue(heightInMbs - 1);
  w.bit(1); // frame_mbs_only_flag
  w.bit(1); // direct_8x8_inference_flag
  const bool crop = cropRight != 0 || cropBottom != 0;
  w.bit(crop ? 1 : 0);
  if (crop) {
    w.ue(0);
    w.ue(cropRight);
    w.ue(0);
    w.ue(cropBottom);
  }
  w.bit(0); // vui_parameters_present_flag
  return nal(0x67, w.finish());
}

std::string baseViewStream(int frames, int width, int height, int idrInterval) {
  return viewStream(frames, width, height, idrInterval, false);
}

std::string mvcViewStream(int frames, int width, int height, int idrInterval) {
  return viewStream(frames, width, height, idrInterval, true);
}

} // namespace kestrova::test
