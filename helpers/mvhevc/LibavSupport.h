#pragma once

// Small helpers shared by the converter's readers of libav input (pictures and
// sound), so both report errors and own frames the same way.
extern "C" {
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

#include <memory>
#include <string>

namespace kestrova::mvhevc {

/// libav's text for an error code.
inline std::string libavErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

struct FrameDeleter {
  void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
/// An owned libav frame.
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

} // namespace kestrova::mvhevc
