#include "SliceRewriter.h"

#include "Bitstream.h"
#include "SliceHeader.h"

namespace kestrova::mvhevc {

SliceRewriter::SliceRewriter(const SpsInfo &sps, const PpsInfo &pps, std::uint32_t layerOnePpsId)
    : sps_(sps), pps_(pps), newPpsId_(layerOnePpsId) {}

NalBytes SliceRewriter::rewrite(std::span<const std::uint8_t> nal) const {
  const auto type = nalTypeOf(nal);
  const auto temporalIdPlus1 = static_cast<std::uint8_t>(nal[1] & 7);
  const auto rbsp = rbspOf(nal);
  const auto layout = parseSliceHeader(rbsp, type, 0, sps_, pps_, InterLayerSignal::none);
  BitReader in(rbsp);
  BitWriter out;
  out.copy(in, layout.ppsIdAt); // first_slice_segment_in_pic_flag, no_output_of_prior_pics_flag
  in.skip(layout.ppsIdEnd - layout.ppsIdAt);
  out.ue(newPpsId_);
  out.copy(in, layout.extraBitsAt - layout.ppsIdEnd); // slice_segment_address
  in.skip(layout.sliceTypeAt - layout.extraBitsAt);   // the layer-1 PPS has no extra bits
  out.copy(in, layout.pocAt - layout.sliceTypeAt);
  if (isIdr(type)) {
    out.bits(0, sps_.log2MaxPocLsb); // an IDR picture's POC is 0
  }
  out.copy(in, layout.interLayerAt - layout.pocAt);
  out.flag(false); // inter_layer_pred_enabled_flag
  out.copy(in, layout.alignmentAt - layout.interLayerAt);
  out.trailingBits(); // byte_alignment()
  auto bytes = out.bytes();
  bytes.insert(bytes.end(), rbsp.begin() + static_cast<std::ptrdiff_t>(layout.sliceDataByte), rbsp.end());
  return makeNal(type, 1, temporalIdPlus1, bytes);
}

} // namespace kestrova::mvhevc
