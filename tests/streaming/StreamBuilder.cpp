#include "StreamBuilder.h"

#include <fstream>
#include <stdexcept>

namespace kestrova::streaming::test {

namespace {

class BitWriter {
public:
  void bits(std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i)
      bit((value >> i) & 1);
  }
  void bit(std::uint32_t value) {
    current_ = static_cast<std::uint8_t>((current_ << 1) | value);
    if (++filled_ == 8) {
      raw_.push_back(current_);
      current_ = 0;
      filled_ = 0;
    }
  }
  void ue(std::uint32_t value) {
    int length = 0;
    while ((value + 1) >> (length + 1))
      ++length;
    bits(0, length);
    bits(value + 1, length + 1);
  }
  void se(std::int32_t value) {
    ue(value > 0 ? static_cast<std::uint32_t>(2 * value - 1) : static_cast<std::uint32_t>(-2 * value));
  }
  /// The payload with its stop bit, aligned and escaped.
  Bytes finish() {
    bit(1);
    while (filled_ != 0)
      bit(0);
    Bytes escaped;
    int zeros = 0;
    for (std::uint8_t byte : raw_) {
      if (zeros >= 2 && byte <= 3) {
        escaped.push_back(3);
        zeros = 0;
      }
      escaped.push_back(byte);
      zeros = byte == 0 ? zeros + 1 : 0;
    }
    return escaped;
  }

private:
  Bytes raw_;
  std::uint8_t current_ = 0;
  int filled_ = 0;
};

Bytes nal(std::uint8_t header, const Bytes &payload) {
  Bytes unit{0, 0, 0, 1, header};
  unit.insert(unit.end(), payload.begin(), payload.end());
  return unit;
}

Bytes text(const std::string &s) {
  return Bytes(s.begin(), s.end());
}

void append(Bytes &to, const Bytes &more) {
  to.insert(to.end(), more.begin(), more.end());
}

} // namespace

Bytes sequenceParameterSet(const SpsFields &f) {
  BitWriter w;
  w.bits(static_cast<std::uint32_t>(f.profile), 8);
  w.bits(0, 8);  // constraint flags
  w.bits(40, 8); // level 4.0
  w.ue(0);       // seq_parameter_set_id
  if (f.profile == 100) {
    w.ue(static_cast<std::uint32_t>(f.chromaFormat));
    if (f.chromaFormat == 3)
      w.bit(0);
    w.ue(static_cast<std::uint32_t>(f.bitDepthLuma - 8));
    w.ue(static_cast<std::uint32_t>(f.bitDepthLuma - 8));
    w.bit(0);
    w.bit(f.scalingMatrix ? 1 : 0);
    if (f.scalingMatrix)
      for (int list = 0; list < 8; ++list) {
        w.bit(1);
        for (int j = 0; j < (list < 6 ? 16 : 64); ++j)
          w.se(j == 0 ? 8 : (j % 3) - 1);
      }
  }
  w.ue(4); // log2_max_frame_num_minus4
  w.ue(static_cast<std::uint32_t>(f.pocType));
  if (f.pocType == 0) {
    w.ue(4);
  } else if (f.pocType == 1) {
    w.bit(0);
    w.se(-1);
    w.se(2);
    w.ue(2);
    w.se(3);
    w.se(-4);
  }
  w.ue(4); // max_num_ref_frames
  w.bit(0);
  w.ue(static_cast<std::uint32_t>(f.widthInMbs - 1));
  w.ue(static_cast<std::uint32_t>(f.heightInMapUnits - 1));
  w.bit(f.frameMbsOnly ? 1 : 0);
  if (!f.frameMbsOnly)
    w.bit(1);
  w.bit(1); // direct_8x8_inference_flag
  const bool crop = f.cropRight != 0 || f.cropBottom != 0;
  w.bit(crop ? 1 : 0);
  if (crop) {
    w.ue(0);
    w.ue(static_cast<std::uint32_t>(f.cropRight));
    w.ue(0);
    w.ue(static_cast<std::uint32_t>(f.cropBottom));
  }
  w.bit(0); // vui_parameters_present_flag
  return nal(0x67, w.finish());
}

MvcStreams makeStreams(int width, int height, int frames, int gop) {
  SpsFields fields;
  fields.widthInMbs = width / 16;
  fields.heightInMapUnits = height / 16;
  const Bytes sps = sequenceParameterSet(fields);
  const std::string size = "W" + std::to_string(width) + "H" + std::to_string(height);
  MvcStreams out;
  for (int frame = 0; frame < frames; ++frame) {
    const bool idr = frame % gop == 0;
    const std::string label = "F" + std::to_string(frame);
    Bytes base, mvc;
    if (idr) {
      append(base, sps);
      append(base, nal(0x68, {0xCE, 0x38, 0x80}));
      append(mvc, nal(0x6F, text(size)));
    }
    append(base, nal(idr ? 0x65 : 0x41, text(label)));
    append(mvc, nal(0x74, text(label)));
    append(out.base, nal(0x09, {0xF0}));
    append(out.base, base);
    append(out.mvc, nal(0x18, {0xF0}));
    append(out.mvc, mvc);
    append(out.interleaved, base);
    append(out.interleaved, mvc);
  }
  return out;
}

void writeBytes(const std::filesystem::path &path, const Bytes &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out)
    throw std::runtime_error("cannot write " + path.string());
}

} // namespace kestrova::streaming::test
