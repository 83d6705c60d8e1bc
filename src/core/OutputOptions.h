#pragma once

#include "core/EnumText.h"

namespace kestrova {

/// Encoder quality chosen by the user; the encoder settings per preset live
/// with the encoder table.
enum class QualityPreset { ultraHigh, high, medium, low };

/// Video codec of the side-by-side output.
enum class OutputCodec { h264, h265 };

/// The final product of a conversion.
enum class OutputTarget { sbs3D, visionPro };

template <> struct EnumText<QualityPreset> {
  static constexpr std::array rows{
      EnumRow<QualityPreset>{QualityPreset::ultraHigh, "Ultra High", "ultraHigh"},
      EnumRow<QualityPreset>{QualityPreset::high, "High Quality", "high"},
      EnumRow<QualityPreset>{QualityPreset::medium, "Balanced", "medium"},
      EnumRow<QualityPreset>{QualityPreset::low, "Smaller File", "low"},
  };
};

template <> struct EnumText<OutputCodec> {
  static constexpr std::array rows{
      EnumRow<OutputCodec>{OutputCodec::h264, "H.264", "h264"},
      EnumRow<OutputCodec>{OutputCodec::h265, "H.265 (HEVC)", "h265"},
  };
};

template <> struct EnumText<OutputTarget> {
  static constexpr std::array rows{
      EnumRow<OutputTarget>{OutputTarget::sbs3D, "SBS 3D (MKV)", "sbs3D"},
      EnumRow<OutputTarget>{OutputTarget::visionPro, "Apple Vision Pro (MV-HEVC)", "visionPro"},
  };
};

} // namespace kestrova
