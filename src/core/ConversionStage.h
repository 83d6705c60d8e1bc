#pragma once

#include "core/EnumText.h"

namespace kestrova {

/// The stage of a running conversion; its raw value is the plain name the
/// window and the console show (the interleaver and the decoder are one step
/// to the user, and so are both MV-HEVC encodes).
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
      EnumRow<S>{S::demuxing, "Reading the source", "demuxing"},
      EnumRow<S>{S::interleaving, "Decoding both eyes", "interleaving"},
      EnumRow<S>{S::decoding, "Decoding both eyes", "decoding"},
      EnumRow<S>{S::encoding, "Encoding side by side", "encoding"},
      EnumRow<S>{S::encodingMVHEVC, "Encoding for Vision Pro", "encodingMVHEVC"},
      EnumRow<S>{S::convertingMVHEVC, "Encoding for Vision Pro", "convertingMVHEVC"},
      EnumRow<S>{S::complete, "Complete!", "complete"},
      EnumRow<S>{S::failed, "Failed", "failed"},
  };
};

} // namespace kestrova
