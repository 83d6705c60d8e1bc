#pragma once

#include "core/EnumText.h"

namespace kestrova {

/// The stage of a running conversion; its raw value is the status text.
enum class ConversionStage {
  idle,
  demuxing,
  interleaving,
  decoding,
  encoding,
  encodingMVHEVC,
  convertingMVHEVC,
  complete,
  failed,
};

template <> struct EnumText<ConversionStage> {
  using S = ConversionStage;
  static constexpr std::array rows{
      EnumRow<S>{S::idle, "Ready", "idle"},
      EnumRow<S>{S::demuxing, "Demuxing...", "demuxing"},
      EnumRow<S>{S::interleaving, "Interleaving NAL units...", "interleaving"},
      EnumRow<S>{S::decoding, "Decoding MVC...", "decoding"},
      EnumRow<S>{S::encoding, "Encoding SBS 3D...", "encoding"},
      EnumRow<S>{S::encodingMVHEVC, "Encoding MV-HEVC...", "encodingMVHEVC"},
      EnumRow<S>{S::convertingMVHEVC, "Converting to MV-HEVC...", "convertingMVHEVC"},
      EnumRow<S>{S::complete, "Complete!", "complete"},
      EnumRow<S>{S::failed, "Failed", "failed"},
  };
};

} // namespace kestrova
