#pragma once

// A small Blu-ray 3D film whose GOPs are open (I pictures with recovery
// points, not IDR pictures, as many disc encoders write them), made by the
// real encoder, and the check that a movie made of it holds every picture.
#include "RealTools.h"

#include <filesystem>

namespace kestrova::bluray::test {

/// 48 pictures of 320x192, an I picture every 12, the first IDR.
inline constexpr int kOpenGopWidth = 320, kOpenGopHeight = 192, kOpenGopPictures = 48;

/// The folder of the clip make-open-gop-clip.sh makes (`clip.m2ts` and the
/// JM decoder's pictures of each view, `ref_ViewId000N.yuv`), made once
/// under the build tree and kept. `pyramid`: leading pictures that other
/// pictures refer to, which only edge264 decodes past when they are left out.
std::filesystem::path openGopClip(const RealTools &tools, const std::filesystem::path &clips, bool pyramid);

/// Expects every picture of each eye of `movie` (the layers of a Vision Pro
/// movie, or the halves of a side-by-side one) to be the picture the JM
/// decoder decodes from the whole stream of `clip`, within the encoder's loss.
void expectEveryPicture(const std::filesystem::path &movie, const std::filesystem::path &clip, bool sideBySide,
                        const std::filesystem::path &scratch);

} // namespace kestrova::bluray::test
