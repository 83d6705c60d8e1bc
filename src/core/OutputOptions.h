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

/// How the user says the two eyes are laid out in a source; `automatic`
/// takes what the analysis detects.
enum class StereoLayout {
  automatic,
  fullSideBySide,
  halfSideBySide,
  fullTopAndBottom,
  halfTopAndBottom,
  frameAlternate,
  mvc
};

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

template <> struct EnumText<StereoLayout> {
  static constexpr std::array rows{
      EnumRow<StereoLayout>{StereoLayout::automatic, "Automatic", "automatic"},
      EnumRow<StereoLayout>{StereoLayout::fullSideBySide, "Full side by side", "fullSideBySide"},
      EnumRow<StereoLayout>{StereoLayout::halfSideBySide, "Half side by side", "halfSideBySide"},
      EnumRow<StereoLayout>{StereoLayout::fullTopAndBottom, "Full top and bottom", "fullTopAndBottom"},
      EnumRow<StereoLayout>{StereoLayout::halfTopAndBottom, "Half top and bottom", "halfTopAndBottom"},
      EnumRow<StereoLayout>{StereoLayout::frameAlternate, "Frame alternate", "frameAlternate"},
      EnumRow<StereoLayout>{StereoLayout::mvc, "MVC", "mvc"},
  };
};

} // namespace kestrova
